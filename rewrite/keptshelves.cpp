#include "keptshelves.h"

#include "undorecord.h"

namespace nf = nativefiles;

namespace {

std::size_t shelfNumber(std::size_t index)
{
    return (index - 1) / KeptShelves::kShelfSize + 1;
}

std::string shelfName(std::size_t number)
{
    const std::size_t first = (number - 1) * KeptShelves::kShelfSize + 1;
    return std::to_string(first) + '-' + std::to_string(first + KeptShelves::kShelfSize - 1);
}

} // namespace

KeptShelves::KeptShelves(const NativeFolder &area, bool shelved, bool make)
    : m_area(area), m_shelved(shelved), m_make(make)
{
}

const NativeFolder *KeptShelves::shelfOf(std::size_t index) const
{
    if (!m_shelved)
        return &m_area;
    const std::size_t number = shelfNumber(index);
    if (number != m_number) {
        m_shelf.reset();
        m_number = number;
        std::optional<NativeFolder> shelf = nf::openArea(m_area, shelfName(number), m_make);
        // Only we make shelves, in an area ours alone; one is checked as the area is all the
        // same, and never followed through a link.
        if (shelf && undorecord::trustedArea(nf::identityOf(shelf->file)))
            m_shelf = std::move(shelf);
    }
    return m_shelf ? &*m_shelf : nullptr;
}

void KeptShelves::flush(std::size_t from, std::size_t to)
{
    if (from > to)
        return;
    for (std::size_t number = shelfNumber(from); number <= shelfNumber(to); ++number) {
        if (const NativeFolder *shelf = shelfOf((number - 1) * kShelfSize + 1))
            nf::flushFolder(*shelf);
    }
}

void KeptShelves::removeEmpty(std::size_t from, std::size_t to)
{
    // A folder that is open is not removed everywhere.
    m_shelf.reset();
    m_number = 0;
    if (!m_shelved || from > to)
        return;
    for (std::size_t number = shelfNumber(from); number <= shelfNumber(to); ++number)
        nf::removeEmptyFolder(m_area, shelfName(number));
}
