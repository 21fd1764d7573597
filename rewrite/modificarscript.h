#pragma once

#include "cierres.h"
#include "nativefiles.h"
#include "replacementrun.h"
#include "scriptprogress.h"
#include "scripttransform.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// A run of script rewrites: what one click of the button does to its scripts. It lives for the
// run and holds the run's folder (runfolder.h), so that a file reached under two names is
// rewritten once, the flushes of several scripts may be shared, and nobody who renames the
// folder meanwhile can lead the run elsewhere.
class RewriteRun
{
public:
    enum class Flushes
    {
        EachScript, // every script is flushed and renamed before rewrite() returns
        Batched,    // small groups of scripts are flushed together, then renamed one by one
    };

    // `folder` as openRunFolder() opened it.
    explicit RewriteRun(NativeFolder folder, Flushes flushes = Flushes::EachScript,
                        ReplacementHooks hooks = {});

    // Rewrites one script of the folder: trims the spaces at both ends, then replaces every
    // CierreIz by NewCierreIz and after that every CierreDer by NewCierreDer. Throws FileError,
    // naming the script that failed (detail), and leaving it as it was; every script before it
    // in the run is then rewritten for good. Returns whether the script gets a new text (false when
    // it stays as it is, or was reached before under another name).
    bool rewrite(const std::string &fileName, const Cierres &cierres,
                 const ScriptProgress &progress = {});

    // Makes every rewrite of the run final and lasting. Throws the first failure.
    void finish();
    // How many scripts got their new text so far.
    std::size_t replaced() const { return m_replacement.replaced(); }
    // Keeps the originals of the scripts of the folder it changes, for undo (see ReplacementRun).
    void keepOriginals(const Cierres &cierres);
    bool originalsKept() const { return m_replacement.originalsKept(); }
    unsigned keepTroubles() const { return m_replacement.keepTroubles(); }

private:
    bool rewriteOne(const std::string &fileName, const Cierres &cierres,
                    const ScriptProgress &progress);

    NativeFolder m_folder; // first in, last out: the replacements refer to it
    ReplacementRun m_replacement;
    std::unique_ptr<unsigned char[]> m_buffer;
};

// Each chunk of a script as read, before the transform may change it in place.
using ChunkRead = std::function<void(const unsigned char *data, std::size_t size)>;

// Reads the whole script through the transform, a chunk at a time, in `buffer` (made on first
// use), showing each chunk to `read` first. Throws FileError, or RewriteAbandoned when progress
// asks to stop.
void readThrough(ScriptReplacement &script, ScriptTransform &transform,
                 std::unique_ptr<unsigned char[]> &buffer, const ScriptProgress &progress,
                 const ChunkRead &read = {});

// Rewrites one script as a run of its own (see RewriteRun::rewrite), in the folder at that
// path (see openRunFolder). progress, when given, is told how far the script has come at least
// once a chunk.
void ModificarScript(const std::string &folder, const std::string &fileName, const Cierres &cierres,
                     const ScriptProgress &progress = {});
