#pragma once

#include "cierres.h"
#include "modificarscript.h"
#include "nativefiles.h"
#include "scriptchanges.h"
#include "scriptprogress.h"
#include "scripttransform.h"

#include "fileerror.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

    // Reads one script again, as preview() read it and with a transform of `cierres`, showing
    // each chunk to `read` before the transform sees it and what the transform makes of it to
    // `made`. Any script, also one read before; nothing is kept. Throws as preview() does.
    void readAgain(const std::string &fileName, const Cierres &cierres, const ChunkRead &read,
                   const ScriptTransform::Sink &made, const ScriptProgress &progress = {}) const;

    // What the walk of a whole list found in one script that would change or could not be read.
    struct Script
    {
        const std::string &name;
        ScriptChanges changes;            // nothing where it failed
        std::optional<FileError> failure; // why it could not be read
    };
    struct Totals
    {
        std::size_t changed = 0;
        std::size_t failed = 0;
        std::optional<FileError> firstFailure;
        bool stopped = false; // `progress` asked to stop: the rest was not read
    };
    // Walks the scripts in order as a run would, telling `seen` of each one that would change
    // or could not be read, and goes on past one that cannot be read. `progress` is told before
    // each script (0 of 0) and within it; false stops the walk there. Throws std::bad_alloc.
    Totals previewAll(const std::vector<std::string> &names, const Cierres &cierres,
                      const std::function<void(const Script &)> &seen,
                      const ScriptProgress &progress = {});

private:
    NativeFolder m_folder;
    std::unique_ptr<ReplacementRun> m_replacement;
    std::unique_ptr<unsigned char[]> m_buffer;
};

// What a dry run says at its end, on the command line and in the window alike, agreeing with its
// counts: "n de N scripts cambiarían", and where some could not be read, "1 script no se pudo
// leer".
std::string previewTotalText(std::size_t changed, std::size_t count);
std::string previewUnreadableText(std::size_t failed);
