#pragma once

#include "cierres.h"
#include "nativefiles.h"
#include "scriptchanges.h"
#include "scriptprogress.h"

#include <memory>
#include <string>

class ReplacementRun;

// A dry run: each script is opened, checked, locked and read exactly as RewriteRun::rewrite()
// does it, and fails the same way, but nothing is written, no record is made, and what a killed
// run left behind is left for the next real run to finish.
class RewritePreview
{
public:
    // `folder` as openRunFolder() opened it.
    explicit RewritePreview(NativeFolder folder);
    RewritePreview(const RewritePreview &) = delete;
    RewritePreview &operator=(const RewritePreview &) = delete;
    ~RewritePreview();

    // What rewriting the script would change; nothing when it would stay as it is or was
    // reached before under another name. Throws FileError, or RewriteAbandoned when progress
    // asks to stop.
    ScriptChanges preview(const std::string &fileName, const Cierres &cierres,
                          const ScriptProgress &progress = {});

private:
    NativeFolder m_folder;
    std::unique_ptr<ReplacementRun> m_replacement;
    std::unique_ptr<unsigned char[]> m_buffer;
};
