// Throughput of the rewrite: one large script, and a run over a folder of many small ones.
// The working folder is DOVEZURAD_BENCH_DIR, or the system's temporary folder.

#include "cmdcambiar.h"
#include "lastrunundo.h"
#include "modificarscript.h"
#include "runfolder.h"
#include "scripttransform.h"

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const Cierres kForward{"{", "}", "<", ">"};
const Cierres kBackward{"<", ">", "{", "}"};

fs::path benchFolder(const std::string &name)
{
    const char *base = std::getenv("DOVEZURAD_BENCH_DIR");
    const fs::path folder = fs::path(base ? base : fs::temp_directory_path().string()) / name;
    fs::create_directories(folder);
    return folder;
}

// Script text with a tag every few dozen bytes and line ends, and no spaces at its ends.
void writeScript(const fs::path &file, std::uint64_t size)
{
    const std::string line = "Hola {nombre}, su pedido {pedido} llega el {fecha}.\r\n";
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::uint64_t left = size;
    while (left > 0) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        out.write(block.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
    out.seekp(static_cast<std::streamoff>(size - 1));
    out.put('.');
}

void rewriteLargeScript(benchmark::State &state)
{
    const auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
    const fs::path folder = benchFolder("large");
    const std::string name = "script-" + std::to_string(state.range(0)) + "MiB.txt";
    if (!fs::exists(folder / name) || fs::file_size(folder / name) != size)
        writeScript(folder / name, size);

    bool forward = true;
    for (auto _ : state) {
        ModificarScript(folder.string(), name, forward ? kForward : kBackward);
        forward = !forward;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A window with nothing but the script list and the delimiters, which answers Yes.
class BenchWindow : public WindowOperations
{
public:
    BenchWindow(std::string folder, std::vector<std::string> names)
        : m_folder(std::move(folder)), m_names(std::move(names))
    {
    }

    std::int32_t fileCount() override { return static_cast<std::int32_t>(m_names.size()); }
    void selectFile(std::int32_t index) override { m_selected = static_cast<std::size_t>(index); }
    std::string currentFileName() override { return m_names[m_selected]; }
    std::string folderPath() override { return m_folder; }
    NativeFolder holdFolder() override { return openRunFolder(m_folder); }
    std::string fieldText(Control field) override
    {
        switch (field) {
        case Control::txtCierreIz:
            return m_cierres.CierreIz;
        case Control::txtCierreDer:
            return m_cierres.CierreDer;
        case Control::txtNewCierreIz:
            return m_cierres.NewCierreIz;
        default:
            return m_cierres.NewCierreDer;
        }
    }
    void setEnabled(Control, bool) override {}
    void setFocus(Control) override {}
    int messageBox(const std::string &prompt, int style, const std::string &) override
    {
        if (style == MessageStyle::YesNoCancelWarning)
            return MessageAnswer::Yes;
        m_lastMessage = prompt;
        return MessageAnswer::Ok;
    }
    void freezeFileList() override {}
    void thawFileList() override {}
    void showProgress(std::int32_t, std::int32_t, std::uint64_t, std::uint64_t) override {}
    void endProgress() override {}
    void handlePendingEvents() override {}
    bool isClosing() override { return false; }

    Cierres m_cierres = kForward;
    std::string m_lastMessage;

private:
    std::string m_folder;
    std::vector<std::string> m_names;
    std::size_t m_selected = 0;
};

void rewriteManyScripts(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const fs::path folder = benchFolder("many-" + std::to_string(count));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("script" + std::to_string(i) + ".txt");
        if (!fs::exists(folder / names.back()))
            writeScript(folder / names.back(), 4096);
    }

    BenchWindow window(folder.string(), names);
    for (auto _ : state) {
        cmdCambiar_Click(window);
        if (window.m_lastMessage != "¡Etiquetas modificadas!")
            state.SkipWithError(window.m_lastMessage.c_str());
        window.m_cierres = window.m_cierres.CierreIz == "{" ? kBackward : kForward;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

std::vector<std::string> manyScripts(const fs::path &folder, std::size_t count)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("script" + std::to_string(i) + ".txt");
        if (!fs::exists(folder / names.back()))
            writeScript(folder / names.back(), 4096);
    }
    return names;
}

void runOver(const fs::path &folder, const std::vector<std::string> &names, const Cierres &cierres,
             bool keep)
{
    RewriteRun run(openRunFolder(folder.string()), RewriteRun::Flushes::Batched);
    if (keep)
        run.keepOriginals(cierres);
    for (const std::string &name : names)
        run.rewrite(name, cierres);
    run.finish();
}

// A run over many scripts of 4 KiB as the button's, keeping their originals for undo (1) or
// not (0): what keeping adds.
void keepOriginals(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool keep = state.range(1) != 0;
    const fs::path folder = benchFolder("many-" + std::to_string(count));
    const std::vector<std::string> names = manyScripts(folder, count);
    bool forward = true;
    for (auto _ : state) {
        runOver(folder, names, forward ? kForward : kBackward, keep);
        forward = !forward;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

// Undo of a run over many scripts of 4 KiB, the run itself left out.
void undoLastRun(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const fs::path folder = benchFolder("many-" + std::to_string(count));
    const std::vector<std::string> names = manyScripts(folder, count);
    for (auto _ : state) {
        state.PauseTiming();
        runOver(folder, names, kForward, true);
        state.ResumeTiming();
        LastRunUndo undo(folder.string());
        if (undo.count() != count || !undo.restore().empty())
            state.SkipWithError("not every script was restored");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

// The text transform alone, in memory, over 64 MiB fed in 1 MiB chunks as a script is read.
// Arguments: the road (0 bytes, 1 UTF-16) and whether the delimiters are there to be replaced
// (1) or the script is left as it is (0).
void transformText(benchmark::State &state)
{
    const bool utf16 = state.range(0) != 0;
    const bool changing = state.range(1) != 0;
    const std::string line = "Hola {nombre}, su pedido {pedido} llega el {fecha}.\r\n";
    std::string text = utf16 ? "\xff\xfe" : "";
    const std::size_t size = std::size_t{64} << 20;
    while (text.size() < size) {
        for (const char c : line)
            text += utf16 ? std::string{c, '\0'} : std::string(1, c);
    }
    text.resize(size);
    // No space at the end, so that a script left alone is left byte for byte.
    if (utf16)
        text.replace(size - 2, 2, std::string{'.', '\0'});
    else
        text.back() = '.';

    constexpr std::size_t kChunk = std::size_t{1} << 20;
    bool forward = true;
    std::uint64_t handed = 0;
    for (auto _ : state) {
        const Cierres cierres =
            changing ? (forward ? kForward : kBackward) : Cierres{"[", "]", "(", ")"};
        forward = !forward;
        ScriptTransform transform(
            cierres, [&](const unsigned char *data, std::size_t length, std::uint64_t, bool) {
                benchmark::DoNotOptimize(data);
                handed += length;
            });
        auto *bytes = reinterpret_cast<unsigned char *>(text.data());
        for (std::size_t at = 0; at < size; at += kChunk)
            transform.feed(bytes + at, std::min(kChunk, size - at));
        transform.finish();
        if (transform.unchanged() == changing)
            state.SkipWithError("the text did not change as expected");
    }
    benchmark::DoNotOptimize(handed);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

} // namespace

BENCHMARK(transformText)->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(rewriteLargeScript)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->UseRealTime();
BENCHMARK(rewriteLargeScript)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(rewriteManyScripts)
    ->Arg(2000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

BENCHMARK(keepOriginals)
    ->ArgsProduct({{20000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(undoLastRun)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

BENCHMARK_MAIN();
