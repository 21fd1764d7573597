#pragma once

#include "nativefiles.h"

#include <cstdint>
#include <functional>
#include <optional>

// What a run may still write on its disk and leave the disk the room it keeps for the scripts
// to come: the largest script seen, and a share of the disk (1 %, at most 64 MiB). The system is
// asked again only when what was counted since it was last asked could have used up half of
// that share, so that a run of many small scripts asks it a few times, not once a script.
class DiskRoom
{
public:
    using Query = std::function<DiskSpace(const NativeFolder &)>;

    // nativefiles::diskSpace where `query` is empty.
    explicit DiskRoom(Query query = {});

    // Whether `size` more bytes on the disk of `folder` leave that room, with `largest` the
    // largest script the run has to come back to; counts them when they do.
    bool take(const NativeFolder &folder, std::uint64_t size, std::uint64_t largest);
    // Room was freed, or may have been: the next take() asks the disk.
    void askAgain() { m_known.reset(); }

private:
    Query m_query;
    std::optional<DiskSpace> m_known; // as last told, less what was taken since
    std::uint64_t m_takenSince = 0;
};
