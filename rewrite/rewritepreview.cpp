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
