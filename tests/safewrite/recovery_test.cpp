// A run killed at each step of a replacement is finished or undone by the next start, the same
// on every platform. The kill comes right before the replacement, with the new text complete
// and flushed and a copy-back's recovery file complete; the test then leaves what a kill a
// moment later would have left: the script under the backup name the record names (between the
// two renames of Windows' replace), or part of the new text copied over a hard-linked script.
#include "modificarscript.h"
#include "recovery.h"
#include "recoverypolicy.h"
#include "runfolder.h"
#include "scratchfolder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const Cierres kForward{"{", "}", "<", ">"};

// The rewrite of a script in a run that dies just before the replacement.
void rewriteUntilKilled(const std::string &folder, const std::string &name)
{
    ReplacementHooks hooks;
#ifdef _WIN32
    hooks.beforeReplace = [] { TerminateProcess(GetCurrentProcess(), 137); };
#else
    hooks.beforeReplace = [] { ::kill(::getpid(), SIGKILL); };
#endif
    RewriteRun run(openRunFolder(folder), RewriteRun::Flushes::EachScript, hooks);
    run.rewrite(name, kForward);
}

#ifdef _WIN32
constexpr const wchar_t *kKilledRun = L"DOVEZURAD_TEST_KILLED_RUN";

// Another start of this program runs KilledRun, told the script by a variable it inherits.
bool killedBeforeReplacement(const ScratchFolder &folder, const std::string &name)
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::wstring command = L"\"" + self + L"\" --gtest_filter=RecoveryAfterAKill.KilledRun";
    SetEnvironmentVariableW(kKilledRun, (folder.path() / pathFromUtf8(name)).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION run{};
    const bool started = CreateProcessW(self.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &run);
    SetEnvironmentVariableW(kKilledRun, nullptr);
    if (!started)
        return false;
    DWORD status = 0;
    WaitForSingleObject(run.hProcess, INFINITE);
    GetExitCodeProcess(run.hProcess, &status);
    CloseHandle(run.hThread);
    CloseHandle(run.hProcess);
    return status == 137;
}
#else
bool killedBeforeReplacement(const ScratchFolder &folder, const std::string &name)
{
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            rewriteUntilKilled(folder.folder(), name);
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}
#endif

// What the dead run's record says, read as recovery reads it.
RunRecordContents deadRecord()
{
    for (const auto &entry : fs::directory_iterator(kPrivateState.records()))
        if (entry.path().extension() == ".registro")
            return parseRunRecord(ScratchFolder::readFile(entry.path()));
    return {};
}

} // namespace

#ifdef _WIN32
// The killed run of EachStepIsFinishedOrUndoneByTheNextStart, in a process of its own.
TEST(RecoveryAfterAKill, KilledRun)
{
    const wchar_t *script = _wgetenv(kKilledRun);
    if (script == nullptr)
        GTEST_SKIP() << "part of EachStepIsFinishedOrUndoneByTheNextStart";
    const fs::path path = script;
    rewriteUntilKilled(utf8Of(path.parent_path()), utf8Of(path.filename()));
}
#endif

TEST(RecoveryAfterAKill, EachStepIsFinishedOrUndoneByTheNextStart)
{
    const std::string original = tagged(64 << 10, '{', '}');
    const std::string rewritten = tagged(64 << 10, '<', '>');
    const struct
    {
        const char *step;
        bool hardLinked; // the copy-back, where the rename path cannot keep both names
        std::function<void(const ScratchFolder &)> then;
        const std::string &result;
    } cases[] = {
        {"before the replacement", false, [](const ScratchFolder &) {}, original},
        {"between the two renames of the system's replace", false,
         [](const ScratchFolder &folder) {
             const RunRecordContents record = deadRecord();
             ASSERT_EQ(record.replacements.size(), 1u);
             fs::rename(folder.path() / "a.txt",
                        folder.path() / pathFromUtf8(record.replacements[0].backupName));
         },
         original},
        {"before the copy-back", true, [](const ScratchFolder &) {}, rewritten},
        {"in the middle of the copy-back", true,
         [&](const ScratchFolder &folder) {
             std::fstream script(folder.path() / "a.txt",
                                 std::ios::in | std::ios::out | std::ios::binary);
             script.write(rewritten.data(), 8192);
         },
         rewritten},
    };
    for (const auto &c : cases) {
        ScratchFolder folder;
        const auto script = folder.write("a.txt", original);
        std::vector<std::string> names{"a.txt"};
        if (c.hardLinked) {
            fs::create_hard_link(script, folder.path() / "b.txt");
            names.push_back("b.txt");
        }
        ASSERT_TRUE(killedBeforeReplacement(folder, "a.txt")) << c.step;
        c.then(folder);

        const std::vector<std::string> told = finishInterruptedRewrites();

        EXPECT_EQ(fingerprint(folder.read("a.txt")), fingerprint(c.result)) << c.step;
        if (c.hardLinked) {
            EXPECT_EQ(fingerprint(folder.read("b.txt")), fingerprint(c.result)) << c.step;
        }
        EXPECT_EQ(folder.names(), names) << c.step;
        EXPECT_EQ(told, std::vector<std::string>{}) << c.step;
        EXPECT_EQ(kPrivateState.files(), std::vector<std::string>{}) << c.step;
    }
}

TEST(RecoveryRecord, FileIdsOf128BitsSurviveTheRecord)
{
    const FileKey script{7, 0x1122334455667788, 0x99aabbccddeeff00};
    const FileKey recovery{7, 42, 1};
    const RecoveryPlace place{false, "C:\\guiones", ".dovezurad-0123456789abcdef.recuperar"};
    const std::string narrow = recordCopyBack({"/guiones", "c.txt", {7, 5, 0}, place, {7, 6, 0}});
    const RunRecordContents read = parseRunRecord(
        recordCopyBack({"C:\\guiones", "a.txt", script, place, recovery}) +
        recordReplace({"\\\\servidor\\guiones", "b.txt", ".dovezurad-fedcba9876543210", script}) +
        narrow);

    ASSERT_EQ(read.copyBacks.size(), 2u);
    EXPECT_TRUE(read.copyBacks[0].script == script && read.copyBacks[0].recoveryFile == recovery);
    ASSERT_EQ(read.replacements.size(), 1u);
    EXPECT_TRUE(read.replacements[0].script == script);
    EXPECT_EQ(read.replacements[0].backupName, ".dovezurad-fedcba9876543210");
    // Without high halves an entry is as earlier versions wrote it: two numbers for each file.
    EXPECT_TRUE(read.copyBacks[1].script == (FileKey{7, 5, 0}));
    EXPECT_EQ(narrow.size(), 4 + 1 + (4 + 8) + (4 + 5) + 16 + (1 + 4 + 10 + 4 + 37) + 16 + 8);
}
