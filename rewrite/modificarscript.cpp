#include "modificarscript.h"

#include "fileerror.h"
#include "keptoriginals.h"
#include "runfolder.h"
#include "scripttransform.h"

#include <algorithm>

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// Enough scripts to share one wait for the disk: fewer flushes, each gathering more of the
// metadata that every script changes, matter most on a disk without a journal, where each flush
// writes it in place. The run waits with fewer where the limit of open files would not hold them
// (each pending script holds three).
constexpr std::size_t kBatchSize = 1024;

} // namespace

void readThrough(ScriptReplacement &script, ScriptTransform &transform,
                 std::unique_ptr<unsigned char[]> &buffer, const ScriptProgress &progress,
                 const ChunkRead &read)
{
    if (!buffer)
        buffer = std::make_unique_for_overwrite<unsigned char[]>(kChunkSize);
    const std::uint64_t total = script.size();
    for (std::uint64_t done = 0; done < total;) {
        const std::size_t got = script.read(buffer.get(), kChunkSize);
        if (read)
            read(buffer.get(), got);
        transform.feed(buffer.get(), got);
        done += got;
        if (progress && !progress(done, total))
            throw RewriteAbandoned(); // a new file goes with `script`
    }
    transform.finish();
}

RewriteRun::RewriteRun(NativeFolder folder, Flushes flushes, ReplacementHooks hooks)
    : m_folder(std::move(folder)),
      m_replacement(flushes == Flushes::Batched ? kBatchSize : 1, std::move(hooks))
{
}

bool RewriteRun::rewrite(const std::string &fileName, const Cierres &cierres,
                         const ScriptProgress &progress)
{
    // The scripts before this one are settled first; a failure among them comes first.
    try {
        return rewriteOne(fileName, cierres, progress);
    } catch (const FileError &error) {
        m_replacement.settle();
        throw error.orAbout(fileName);
    } catch (...) {
        m_replacement.settle();
        throw;
    }
}

bool RewriteRun::rewriteOne(const std::string &fileName, const Cierres &cierres,
                            const ScriptProgress &progress)
{
    std::unique_ptr<ScriptReplacement> script;
    // Nothing is written while the new text is the script's own prefix.
    ScriptTransform transform(cierres, [&script](const unsigned char *data, std::size_t size,
                                                 std::uint64_t offset, bool sameAsInput) {
        if (sameAsInput)
            return;
        if (!script->outputStarted())
            script->startOutput(offset);
        script->write(data, size, offset);
    });
    script = m_replacement.open(m_folder, fileName);
    if (!script)
        return false; // reached before under another name

    readThrough(*script, transform, m_buffer, progress);
    if (transform.unchanged())
        return false;
    if (!script->outputStarted())
        script->startOutput(transform.outputSize()); // only spaces at the end are dropped
    script->endOutput(transform.outputSize());
    m_replacement.replace(std::move(script));
    return true;
}

void RewriteRun::keepOriginals(const Cierres &cierres)
{
    m_replacement.keepOriginals(std::make_unique<KeptOriginals>(
        m_folder, cierres, m_replacement.hooks().diskSpace, m_replacement.releaser()));
}

void RewriteRun::finish()
{
    m_replacement.finish();
}

void ModificarScript(const std::string &folder, const std::string &fileName, const Cierres &cierres,
                     const ScriptProgress &progress)
{
    RewriteRun run(openRunFolder(folder));
    run.rewrite(fileName, cierres, progress);
    run.finish();
}
