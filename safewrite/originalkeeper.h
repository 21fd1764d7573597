#pragma once

#include "nativefiles.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>

// What a run asks of whoever keeps the originals of the scripts it changes, so that the run can
// be undone (undo/keptoriginals.h keeps them). Keeping never makes the run fail: an original
// that cannot be kept is not, and allKept() says so. Called from the run's thread.
class OriginalKeeper
{
public:
    // What keeping by link left: the entry's number, and the original as its second name left
    // it (a link more, a later change time), or nullopt when it was not kept.
    struct Linked
    {
        std::optional<std::size_t> index;
        std::optional<FileIdentity> original;
    };
    // Takes files the keeper lets go of, still open: closing them may free blocks, which the
    // run need not wait for.
    using Release = std::function<void(NativeFile)>;

    OriginalKeeper() = default;
    OriginalKeeper(const OriginalKeeper &) = delete;
    OriginalKeeper &operator=(const OriginalKeeper &) = delete;
    virtual ~OriginalKeeper() = default;

    // A script of that size was read: what the rest of the run may still need room for.
    virtual void seen(std::uint64_t size) = 0;
    // Just before the script's name is given to its new file: keeps the old file by a second
    // name, no byte copied. The entry's number, or nullopt when it was not kept.
    virtual std::optional<std::size_t> keepByLink(const NativeFolder &folder,
                                                  const FileKey &folderKey, const std::string &name,
                                                  const FileIdentity &original) = 0;
    // keepByLink ahead of time, while the run writes and flushes the batch; `folder` must
    // outlive the answer. The original is named in the record before keepWaiting() returns.
    virtual std::future<Linked> keepByLinkAhead(const NativeFolder &folder,
                                                const FileKey &folderKey, const std::string &name,
                                                const FileIdentity &original) = 0;
    // The answer of keepByLinkAhead(), once it is there.
    virtual Linked linked(std::future<Linked> &answer) = 0;
    // Before the flush that makes a batch's new texts last: writes down the entries of its
    // originals, so that the same flush makes the record name them before any is replaced.
    virtual void keepWaiting() = 0;
    // After that flush, before the batch's first replacement: `flushed` says whether it covered
    // the record's disk; if not, the entries are flushed by themselves.
    virtual void entriesWritten(bool flushed) = 0;
    // The disk the originals are kept on, once one is.
    virtual std::uint64_t volume() const = 0;
    // Before the copy-back writes over the script: keeps a copy of it, read through `held`.
    virtual std::optional<std::size_t> keepByCopy(const NativeFolder &folder,
                                                  const FileKey &folderKey, const std::string &name,
                                                  const NativeFile &held,
                                                  const FileIdentity &original) = 0;
    // A kept link whose replacement did not happen: the copy-back writes over that very file.
    virtual void forget(std::size_t index) noexcept = 0;
    // The script as the run left it.
    virtual void noteOutput(std::size_t index, const FileIdentity &output) = 0;
    // A script of the folder that the run changed without keeping its original.
    virtual void noteNotKept(const std::string &name) = 0;
    // The run is over: `complete` where it went through every script, else it stopped before
    // (a failure, a close, a stop signal). Idempotent; never throws.
    virtual void finish(bool complete) noexcept = 0;
    virtual bool allKept() const = 0;
    // Why some original was not kept, for the user to hear: any of these.
    enum Trouble : unsigned
    {
        NoRoom = 1,
        NoPermission = 2,
        TooManyFiles = 4,
        OtherFolder = 8, // a link's target lives elsewhere
        NotSupported = 16,
    };
    virtual unsigned troubles() const = 0;
};
