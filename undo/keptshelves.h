#pragma once

#include "nativefiles.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

// Where a record keeps its originals in the area: in folders of kShelfSize originals each,
// named after the entries they hold ("1-64", "65-128", ...), each original by its entry's
// number. A batch of scripts then names its originals in one small folder, of a block or two
// for the flush to write, where in one folder of thousands nearly every original dirties a
// block of its own. Records of the first format kept them in the area itself.
class KeptShelves
{
public:
    static constexpr std::size_t kShelfSize = 64;

    // `shelved` false: the area itself holds the originals. `make`: a missing shelf is made.
    KeptShelves(const NativeFolder &area, bool shelved, bool make);

    // The folder of entry `index`'s original (from 1); nullptr when it is missing, or is not a
    // folder ours alone. Throws FileError.
    const NativeFolder *shelfOf(std::size_t index) const;
    static std::string nameOf(std::size_t index) { return std::to_string(index); }
    // Where entry `index`'s original is, from the area: "1-64/3" (with the system's separator).
    std::string placeOf(std::size_t index) const;
    // Flushes the shelves of entries `from` to `to`, so that the names in them last.
    void flush(std::size_t from, std::size_t to);
    // Removes the shelves of entries `from` to `to` that are empty.
    void removeEmpty(std::size_t from, std::size_t to);
    // Removes every kept original from entry `first` on, and the shelves left empty: those that
    // are there, however many a record says there were, so that no number read from a damaged
    // record makes anything or runs for long. `release` takes the originals removed, still open.
    void removeFrom(std::size_t first, const std::function<void(NativeFile)> &release);

private:
    const NativeFolder &m_area;
    bool m_shelved = true;
    bool m_make = false;
    // The last shelf asked for, held open: a record is read and written in order.
    mutable std::size_t m_number = 0;
    mutable std::optional<NativeFolder> m_shelf;
};
