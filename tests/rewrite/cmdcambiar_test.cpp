#include "cmdcambiar.h"
#include "runfolder.h"
#include "scratchfolder.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char *controlName(Control control)
{
    switch (control) {
    case Control::Dir1:
        return "Dir1";
    case Control::File1:
        return "File1";
    case Control::Drive1:
        return "Drive1";
    case Control::txtCierreIz:
        return "txtCierreIz";
    case Control::txtCierreDer:
        return "txtCierreDer";
    case Control::txtNewCierreIz:
        return "txtNewCierreIz";
    case Control::txtNewCierreDer:
        return "txtNewCierreDer";
    }
    return "?";
}

const std::string kConfirmation = "Todos los scripts contenidos en el\r\n"
                                  "directorio actual serán modificados.\r\n\r\n"
                                  "¿Desea continuar?";

// A window that records every call the run makes, in order, and answers boxes as told.
class FakeWindow : public WindowOperations
{
public:
    FakeWindow(std::string folder, std::vector<std::string> files)
        : m_folder(std::move(folder)), m_files(std::move(files))
    {
    }

    std::int32_t fileCount() override { return static_cast<std::int32_t>(m_files.size()); }
    void selectFile(std::int32_t index) override
    {
        m_selected = index;
        if (m_recordSelections)
            m_calls.push_back("select " + std::to_string(index));
    }
    std::string currentFileName() override { return m_files.at(static_cast<size_t>(m_selected)); }
    std::string folderPath() override { return m_folder; }
    NativeFolder holdFolder() override { return openRunFolder(m_folder); }
    std::string fieldText(Control field) override { return m_fields[field]; }
    void setEnabled(Control control, bool enabled) override
    {
        m_calls.push_back(std::string(enabled ? "enable " : "disable ") + controlName(control));
    }
    void setFocus(Control field) override
    {
        m_calls.push_back(std::string("focus ") + controlName(field));
    }
    int messageBox(const std::string &prompt, int style, const std::string &title) override
    {
        m_boxes.push_back({prompt, style, title});
        m_calls.push_back("box " + prompt);
        return m_answer;
    }
    void freezeFileList() override { m_calls.push_back("freeze File1"); }
    void thawFileList() override { m_calls.push_back("thaw File1"); }
    void showProgress(std::int32_t script, std::int32_t count, std::uint64_t done,
                      std::uint64_t total) override
    {
        m_progress = {script, count, done, total};
    }
    void endProgress() override { m_calls.push_back("end progress"); }
    // Rounds inside a script come as often as the rewrite reports; back to back rounds count as
    // one, so that the calls read the same whatever the scripts' lengths.
    void handlePendingEvents() override
    {
        if (m_calls.empty() || m_calls.back() != "events")
            m_calls.push_back("events");
        if (m_onEvents)
            m_onEvents();
    }
    bool isClosing() override { return m_closing; }

    struct Box
    {
        std::string prompt;
        int style;
        std::string title;
        bool operator==(const Box &) const = default;
    };

    std::string m_folder;
    std::vector<std::string> m_files;
    std::map<Control, std::string> m_fields{{Control::txtCierreIz, "{"},
                                            {Control::txtCierreDer, "}"},
                                            {Control::txtNewCierreIz, "<"},
                                            {Control::txtNewCierreDer, ">"}};
    int m_answer = MessageAnswer::Yes;
    bool m_closing = false;
    bool m_recordSelections = true;
    std::function<void()> m_onEvents;
    std::tuple<std::int32_t, std::int32_t, std::uint64_t, std::uint64_t> m_progress;
    std::int32_t m_selected = -1;
    std::vector<std::string> m_calls;
    std::vector<Box> m_boxes;
};

const std::vector<std::string> kLockCalls{"disable Dir1",
                                          "disable File1",
                                          "disable Drive1",
                                          "disable txtCierreIz",
                                          "disable txtCierreDer",
                                          "disable txtNewCierreIz",
                                          "disable txtNewCierreDer",
                                          "freeze File1"};

const std::vector<std::string> kUnlockCalls{
    "enable Dir1",           "enable Drive1",          "enable txtCierreIz", "enable txtCierreDer",
    "enable txtNewCierreIz", "enable txtNewCierreDer", "thaw File1"};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST(cmdCambiarChecks, EmptyListShowsNothingEvenWithEmptyFields)
{
    FakeWindow window("/nowhere", {});
    window.m_fields.clear();
    cmdCambiar_Click(window);
    EXPECT_TRUE(window.m_calls.empty());
}

TEST(cmdCambiarChecks, FirstEmptyFieldIsReportedAndFocused)
{
    FakeWindow window("/nowhere", {"a.txt"});
    window.m_fields[Control::txtCierreDer] = "";
    window.m_fields[Control::txtNewCierreIz] = "";
    cmdCambiar_Click(window);
    EXPECT_EQ(window.m_calls,
              (std::vector<std::string>{"box Debe configurar todo", "focus txtCierreDer"}));
    EXPECT_EQ(window.m_boxes.front(), (FakeWindow::Box{"Debe configurar todo", 0, ""}));
}

TEST(cmdCambiarChecks, EachFieldIsCheckedInOrder)
{
    for (Control field : {Control::txtCierreIz, Control::txtCierreDer, Control::txtNewCierreIz,
                          Control::txtNewCierreDer}) {
        FakeWindow window("/nowhere", {"a.txt"});
        window.m_fields[field] = "";
        cmdCambiar_Click(window);
        EXPECT_EQ(window.m_calls.back(), std::string("focus ") + controlName(field));
        EXPECT_EQ(window.m_boxes.size(), 1u);
    }
}

TEST(cmdCambiarConfirmation, NoOrCancelChangesNothing)
{
    for (int answer : {MessageAnswer::No, MessageAnswer::Cancel}) {
        ScratchFolder folder;
        folder.write("a.txt", " {a} ");
        FakeWindow window(folder.folder(), {"a.txt"});
        window.m_answer = answer;
        cmdCambiar_Click(window);
        EXPECT_EQ(window.m_boxes,
                  (std::vector<FakeWindow::Box>{{kConfirmation, 51, "Advertencia"}}));
        EXPECT_EQ(window.m_calls.size(), 1u);
        EXPECT_EQ(folder.read("a.txt"), " {a} ");
    }
}

TEST(cmdCambiarRun, RewritesEveryScriptInOrderAndUnlocks)
{
    ScratchFolder folder;
    folder.write("a.txt", "{a}");
    folder.write("b.txt", " {b} ");
    folder.write("c.txt", "c");
    FakeWindow window(folder.folder(), {"a.txt", "b.txt", "c.txt"});

    cmdCambiar_Click(window);

    EXPECT_EQ(window.m_calls,
              concat({{"box " + kConfirmation},
                      kLockCalls,
                      {"events", "select 0", "events", "select 1", "events", "select 2", "events"},
                      kUnlockCalls,
                      {"end progress", "box ¡Etiquetas modificadas!"}}));
    EXPECT_EQ(window.m_boxes.back(), (FakeWindow::Box{"¡Etiquetas modificadas!", 0, ""}));
    EXPECT_EQ(folder.read("a.txt"), "<a>");
    EXPECT_EQ(folder.read("b.txt"), "<b>");
    EXPECT_EQ(folder.read("c.txt"), "c");
}

TEST(cmdCambiarRun, FailureInTheMiddleStopsTheRunAndKeepsTheLock)
{
    ScratchFolder folder;
    folder.write("1.txt", "{1}");
    const auto readOnly = folder.write("2.txt", "{2}");
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    folder.write("3.txt", "{3}");
    FakeWindow window(folder.folder(), {"1.txt", "2.txt", "3.txt"});

    cmdCambiar_Click(window);

    EXPECT_EQ(window.m_calls,
              concat({{"box " + kConfirmation},
                      kLockCalls,
                      {"events", "select 0", "events", "select 1"},
                      {"end progress", "box 75 Error de acceso a la ruta o el archivo"}}));
    EXPECT_EQ(window.m_boxes.back().style, 0);
    EXPECT_EQ(window.m_boxes.back().title, "");
    EXPECT_EQ(folder.read("1.txt"), "<1>");
    EXPECT_EQ(folder.read("2.txt"), "{2}");
    EXPECT_EQ(folder.read("3.txt"), "{3}");
}

TEST(cmdCambiarRun, VanishedScriptIsReported)
{
    ScratchFolder folder;
    FakeWindow window(folder.folder(), {"gone.txt"});
    cmdCambiar_Click(window);
    EXPECT_EQ(window.m_boxes.back().prompt, "53 No se encontró el archivo");
}

TEST(cmdCambiarRun, ClosingTheWindowStopsBetweenScriptsWithoutAMessage)
{
    ScratchFolder folder;
    folder.write("1.txt", "{1}");
    folder.write("2.txt", "{2}");
    folder.write("3.txt", "{3}");
    FakeWindow window(folder.folder(), {"1.txt", "2.txt", "3.txt"});
    // The close comes at the first round after the first script was read whole.
    window.m_onEvents = [&] {
        const auto [script, count, done, total] = window.m_progress;
        window.m_closing = script == 1 && total > 0 && done == total;
    };

    cmdCambiar_Click(window);

    EXPECT_EQ(window.m_boxes.size(), 1u); // the confirmation alone
    EXPECT_EQ(window.m_calls.back(), "end progress");
    EXPECT_EQ(folder.read("1.txt"), "<1>");
    EXPECT_EQ(folder.read("2.txt"), "{2}");
    EXPECT_EQ(folder.read("3.txt"), "{3}");
}

TEST(cmdCambiarRun, InsideAScriptItTellsHowFarItIsAndAnyCloseEndsItWithoutAWord)
{
    // Closing at the round after the last script was read whole: nothing more is shown, the
    // script is its original or its rewrite, and no temporary file stays.
    ScratchFolder folder;
    folder.write("1.txt", "{1}");
    folder.write("2.txt", "{2}");
    FakeWindow window(folder.folder(), {"1.txt", "2.txt"});
    int eventRounds = 0;
    window.m_recordSelections = false;
    window.m_onEvents = [&] {
        if (++eventRounds == 3)
            window.m_closing = true;
    };

    cmdCambiar_Click(window);

    EXPECT_EQ(window.m_progress, std::make_tuple(2, 2, std::uint64_t{3}, std::uint64_t{3}));
    EXPECT_EQ(window.m_boxes.size(), 1u);
    EXPECT_EQ(window.m_calls.back(), "end progress");
    EXPECT_EQ(folder.read("1.txt"), "<1>");
    const std::string second = folder.read("2.txt");
    EXPECT_TRUE(second == "{2}" || second == "<2>") << second;
    // The originals kept for undo, in the folder's own area.
    EXPECT_EQ(folder.names(), (std::vector<std::string>{".dovezurad.deshacer", "1.txt", "2.txt"}));
}

TEST(cmdCambiarRun, MoreScriptsThanASixteenBitCountAreAllHandled)
{
    if (wineVersion())
        GTEST_SKIP() << "Wine " << wineVersion() << " takes about 3 ms to open a script and tell "
                     << "its file id, so 40,000 would take minutes";
    constexpr std::int32_t count = 40000;
    ScratchFolder folder;
    // One unchanged script listed many times keeps this quick; only the count matters here.
    folder.write("same.txt", "x");
    folder.write("last.txt", "{last}");
    std::vector<std::string> names(count - 1, "same.txt");
    names.push_back("last.txt");
    FakeWindow window(folder.folder(), names);
    window.m_recordSelections = false;
    int rounds = 0;
    window.m_onEvents = [&] { ++rounds; };

    cmdCambiar_Click(window);

    EXPECT_GE(rounds, count);
    EXPECT_EQ(window.m_selected, count - 1);
    EXPECT_EQ(folder.read("last.txt"), "<last>");
    EXPECT_EQ(window.m_boxes.back().prompt, "¡Etiquetas modificadas!");
}
