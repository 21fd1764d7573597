#include "browsertestsupport.h"
#include "fakemessageboxes.h"
#include "frmdovezurad.h"
#include "previewdialog.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>

namespace {

using namespace std::string_literals;

class PreviewTest : public ::testing::Test
{
protected:
    void writeScripts() const
    {
        const std::pair<const char *, std::string> scripts[] = {
            {"a.txt", "  {uno}\r\ny {dos}  "},
            {"b.txt", "sin etiquetas"},
            {"c.txt", "\xFF\xFE{\0x\0}\0"s},
            {"d.txt", "texto  "},
            {"e.txt", ""},
            {"f.txt", "<ya>"},
        };
        for (const auto &[name, bytes] : scripts)
            std::ofstream(root() + "/" + name, std::ios::binary) << bytes;
    }

    std::map<std::string, std::string> contents() const
    {
        std::map<std::string, std::string> files;
        for (const auto &entry : std::filesystem::directory_iterator(root())) {
            std::ifstream file(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                entry.is_regular_file() ? std::string(std::istreambuf_iterator<char>(file), {})
                                        : "<folder>";
        }
        return files;
    }

    // The preview through its shortcut's action; the dialog stays open when it returns.
    static PreviewDialog *preview(frmDovezurad &window)
    {
        window.findChild<QAction *>("mnuVerCambios")->trigger();
        return window.findChild<PreviewDialog *>();
    }

    static std::set<std::string> listed(const PreviewDialog &dialog)
    {
        std::set<std::string> names;
        for (int row = 0; row < dialog.model().rowCount(); ++row)
            names.insert(dialog.model().row(row).nativeName);
        return names;
    }

    std::string root() const { return QFile::encodeName(m_folder.path()).toStdString(); }

    QTemporaryDir m_folder;
    FakeMessageBoxes m_boxes;
};

TEST_F(PreviewTest, ListsExactlyTheScriptsAFollowingRunChanges)
{
    const struct
    {
        const char *fields; // txtCierreIz, txtCierreDer, txtNewCierreIz, txtNewCierreDer
        QString total;
    } cases[] = {
        {"{}<>", QStringLiteral("3 de 6 scripts cambiarían")},
        {"<>[]", QStringLiteral("3 de 6 scripts cambiarían")},
        {"{}{}", QStringLiteral("2 de 6 scripts cambiarían")},
    };
    for (const auto &example : cases) {
        SCOPED_TRACE(example.fields);
        m_folder.remove();
        m_folder = QTemporaryDir();
        writeScripts();
        frmDovezurad window(m_boxes, FolderDriveSource::of({root()}), root());
        const char *names[] = {"txtCierreIz", "txtCierreDer", "txtNewCierreIz", "txtNewCierreDer"};
        for (int field = 0; field < 4; ++field)
            window.findChild<QLineEdit *>(names[field])
                ->setText(QString(QLatin1Char(example.fields[field])));
        const std::map<std::string, std::string> before = contents();

        PreviewDialog *dialog = preview(window);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->findChild<QLabel *>("lblTotal")->text(), example.total);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Vista previa"));
        const std::set<std::string> shown = listed(*dialog);
        dialog->accept();

        m_boxes.answerWith(MessageAnswer::Yes);
        window.findChild<QPushButton *>("cmdCambiar")->click();
        std::set<std::string> changed;
        for (const auto &[name, bytes] : contents()) {
            if (before.count(name) != 0 && before.at(name) != bytes)
                changed.insert(name);
        }
        EXPECT_EQ(shown, changed);
    }
}

TEST_F(PreviewTest, WritesNothingEvenWhenEveryScriptsLinesAreShown)
{
    writeScripts();
    using Identity = std::tuple<dev_t, ino_t, off_t, long, long, long, long, mode_t, std::string>;
    const auto identities = [this] {
        std::map<std::string, Identity> seen;
        for (const auto &[name, bytes] : contents()) {
            struct stat status
            {
            };
            EXPECT_EQ(::lstat((root() + "/" + name).c_str(), &status), 0);
            seen[name] = {status.st_dev,         status.st_ino,          status.st_size,
                          status.st_mtim.tv_sec, status.st_mtim.tv_nsec, status.st_ctim.tv_nsec,
                          status.st_ctim.tv_sec, status.st_mode,         bytes};
        }
        return seen;
    };
    const std::map<std::string, Identity> before = identities();
    frmDovezurad window(m_boxes, FolderDriveSource::of({root()}), root());

    PreviewDialog *dialog = preview(window);
    ASSERT_NE(dialog, nullptr);
    auto *list = dialog->findChild<QTableView *>("lstScripts");
    const auto *lines = dialog->findChild<QTextEdit *>("txtLineas");
    ASSERT_EQ(list->model()->rowCount(), 3);
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        list->setCurrentIndex(list->model()->index(row, 0));
        EXPECT_TRUE(lines->toPlainText().contains(QStringLiteral("Quedaría:"))) << row;
    }
    EXPECT_TRUE(lines->toPlainText().contains(QStringLiteral("Ahora:\ntexto  \nQuedaría:\ntexto")));
    dialog->reject();

    EXPECT_EQ(identities(), before);
    EXPECT_TRUE(m_boxes.shown().empty());
}

TEST_F(PreviewTest, MakesTheButtonsChecksWithItsMessageAndFocus)
{
    const struct
    {
        bool scripts;
        const char *emptied; // a field, or ""
        std::size_t boxes;
    } cases[] = {{false, "txtCierreIz", 0}, {true, "txtNewCierreDer", 1}, {true, "", 0}};
    for (const auto &example : cases) {
        SCOPED_TRACE(example.emptied);
        FakeMessageBoxes boxes;
        m_folder.remove();
        m_folder = QTemporaryDir();
        if (example.scripts)
            writeScripts();
        frmDovezurad window(boxes, FolderDriveSource::of({root()}), root());
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QLineEdit *field = window.findChild<QLineEdit *>(example.emptied);
        if (field != nullptr)
            field->clear();
        window.findChild<QWidget *>("Dir1")->setFocus();

        // By its keys, as a user would, from a field that has keys of its own.
        QTest::keyClick(window.findChild<QLineEdit *>("txtCierreDer"), Qt::Key_V,
                        Qt::ControlModifier | Qt::ShiftModifier);
        const PreviewDialog *dialog = window.findChild<PreviewDialog *>();

        ASSERT_EQ(boxes.shown().size(), example.boxes);
        if (example.boxes == 1) {
            EXPECT_EQ(boxes.shown()[0].prompt, QStringLiteral("Debe configurar todo"));
            EXPECT_EQ(QApplication::focusWidget(), field);
        }
        EXPECT_EQ(dialog != nullptr, example.scripts && field == nullptr);
    }
}

} // namespace
