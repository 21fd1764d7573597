#include "keptshelves.h"

#include "undorecord.h"

#include <charconv>
#include <optional>
#include <string_view>

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

// The entry number a name stands for, spelt as nameOf() spells it; nullopt for any other name.
std::optional<std::size_t> entryNumber(std::string_view name)
{
    std::size_t number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (name.empty() || name.front() == '0' || error != std::errc() ||
        end != name.data() + name.size())
        return std::nullopt;
    return number;
}

// The last entry of a shelf, from its name "first-last"; nullopt for any other name.
std::optional<std::size_t> shelfEnd(std::string_view name)
{
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const std::optional<std::size_t> first = entryNumber(name.substr(0, dash));
    const std::optional<std::size_t> last = entryNumber(name.substr(dash + 1));
    if (!first || !last || *first % KeptShelves::kShelfSize != 1 ||
        shelfName(shelfNumber(*first)) != name)
        return std::nullopt;
    return last;
}

void removeOriginals(const NativeFolder &shelf, std::size_t first,
                     const std::function<void(NativeFile)> &release)
{
    for (const std::string &name : nf::namesIn(shelf, false)) {
        const std::optional<std::size_t> number = entryNumber(name);
        if (!number || *number < first)
            continue;
        NativeFile file = nf::detachName(shelf, name);
        if (file && release)
            release(std::move(file));
    }
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

std::string KeptShelves::placeOf(std::size_t index) const
{
    return m_shelved ? nf::pathIn(shelfName(shelfNumber(index)), nameOf(index)) : nameOf(index);
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

void KeptShelves::removeFrom(std::size_t first, const std::function<void(NativeFile)> &release)
{
    m_shelf.reset();
    m_number = 0;
    if (!m_shelved) {
        removeOriginals(m_area, first, release);
        return;
    }
    for (const std::string &name : nf::namesIn(m_area, true)) {
        const std::optional<std::size_t> last = shelfEnd(name);
        if (!last || *last < first)
            continue;
        {
            const std::optional<NativeFolder> shelf = nf::openArea(m_area, name, false);
            if (!shelf || !undorecord::trustedArea(nf::identityOf(shelf->file)))
                continue;
            removeOriginals(*shelf, first, release);
        }
        nf::removeEmptyFolder(m_area, name);
    }
}
