// How long File1 takes to show a folder of many scripts, from reading the folder to a filled list.
#include "filelist.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

class ScriptFolder
{
public:
    explicit ScriptFolder(int scripts)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "dovezurad-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
        for (int i = 0; i < scripts; ++i)
            std::ofstream(m_path / ("guion " + std::to_string(i) + ".txt")) << "{a}";
        // Files the list must pass over.
        for (int i = 0; i < scripts / 10; ++i)
            std::ofstream(m_path / ("dato " + std::to_string(i) + ".dat")) << "x";
    }
    ScriptFolder(const ScriptFolder &) = delete;
    ScriptFolder &operator=(const ScriptFolder &) = delete;
    ~ScriptFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

void OpenFolderOfScripts(benchmark::State &state)
{
    const ScriptFolder folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        FileList list;
        list.setFolder(folder.path());
        if (list.entryCount() != state.range(0))
            state.SkipWithError("the list is not full");
        benchmark::DoNotOptimize(list.entryCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(OpenFolderOfScripts)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
