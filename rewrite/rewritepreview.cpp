#include "rewritepreview.h"

#include "modificarscript.h"
#include "replacementrun.h"
#include "scripttransform.h"

RewritePreview::RewritePreview(NativeFolder folder)
    : m_folder(std::move(folder)),
      m_replacement(std::make_unique<ReplacementRun>(ReplacementRun::ReadOnly{}))
{
}

RewritePreview::~RewritePreview() = default;

ScriptChanges RewritePreview::preview(const std::string &fileName, const Cierres &cierres,
                                      const ScriptProgress &progress)
{
    ScriptTransform transform(
        cierres, [](const unsigned char *, std::size_t, std::uint64_t, bool) {},
        ScriptTransform::Counting::On);
    const std::unique_ptr<ScriptReplacement> script = m_replacement->open(m_folder, fileName);
    if (!script)
        return {}; // reached before under another name
    readThrough(*script, transform, m_buffer, progress);
    return transform.changes();
}

void RewritePreview::readAgain(const std::string &fileName, const Cierres &cierres,
                               const ChunkRead &read, const ScriptTransform::Sink &made,
                               const ScriptProgress &progress) const
{
    ScriptTransform transform(cierres, made);
    // A run of its own, which has seen no script under another name.
    ReplacementRun once(ReplacementRun::ReadOnly{});
    const std::unique_ptr<ScriptReplacement> script = once.open(m_folder, fileName);
    if (!script)
        return;
    std::unique_ptr<unsigned char[]> buffer;
    readThrough(*script, transform, buffer, progress, read);
}

RewritePreview::Totals RewritePreview::previewAll(const std::vector<std::string> &names,
                                                  const Cierres &cierres,
                                                  const std::function<void(const Script &)> &seen,
                                                  const ScriptProgress &progress)
{
    Totals totals;
    for (const std::string &name : names) {
        if (progress && !progress(0, 0)) {
            totals.stopped = true;
            break;
        }
        try {
            const ScriptChanges changes = preview(name, cierres, progress);
            if (changes == ScriptChanges{})
                continue;
            ++totals.changed;
            seen({name, changes, std::nullopt});
        } catch (const RewriteAbandoned &) {
            totals.stopped = true;
            break;
        } catch (const FileError &error) {
            ++totals.failed;
            if (!totals.firstFailure)
                totals.firstFailure = error;
            seen({name, {}, error});
        }
    }
    return totals;
}

std::string previewTotalText(std::size_t changed, std::size_t count)
{
    return std::to_string(changed) + " de " + std::to_string(count) +
           (count == 1 ? " script cambiaría" : " scripts cambiarían");
}

std::string previewUnreadableText(std::size_t failed)
{
    return std::to_string(failed) +
           (failed == 1 ? " script no se pudo leer" : " scripts no se pudieron leer");
}
