#include "diskroom.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kMostReserve = std::uint64_t{64} << 20;
constexpr std::uint64_t kReserveShare = 100;

std::uint64_t margin(const DiskSpace &space)
{
    return std::min(kMostReserve, space.total / kReserveShare);
}

bool fits(const DiskSpace &space, std::uint64_t size, std::uint64_t largest)
{
    const std::uint64_t reserve = std::max(largest, size) + margin(space);
    return space.free >= size && space.free - size >= reserve;
}

} // namespace

DiskRoom::DiskRoom(Query query) : m_query(std::move(query))
{
    if (!m_query)
        m_query = nativefiles::diskSpace;
}

bool DiskRoom::take(const NativeFolder &folder, std::uint64_t size, std::uint64_t largest)
{
    // Others write to the disk too: what we counted is trusted for half the margin at most.
    const bool stale = m_known && m_takenSince + size > margin(*m_known) / 2;
    if (!m_known || stale || !fits(*m_known, size, largest)) {
        m_known = m_query(folder);
        m_takenSince = 0;
    }
    if (!fits(*m_known, size, largest))
        return false;
    m_known->free -= size;
    m_takenSince += size;
    return true;
}
