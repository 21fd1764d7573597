#include "keptoriginals.h"

#include "fileerror.h"
#include "keptshelves.h"
#include "undorecord.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace nf = nativefiles;
namespace ur = undorecord;

KeptOriginals::KeptOriginals(const NativeFolder &folder, Cierres cierres, DiskRoom::Query space,
                             Release release)
    : m_folder(folder), m_cierres(std::move(cierres)), m_release(std::move(release)),
      m_room(std::move(space))
{
}

KeptOriginals::~KeptOriginals()
{
    stopKeeping();
}

bool KeptOriginals::allKept() const
{
    const std::lock_guard lock(m_mutex);
    return m_allKept;
}

void KeptOriginals::lose(unsigned trouble) noexcept
{
    m_allKept = false;
    m_troubles |= trouble;
}

void KeptOriginals::lose(const FileError &error) noexcept
{
    if (error.number() == FileError::fromErrno(ENOSPC).number())
        lose(NoRoom);
    else if (error.number() == FileError::heldByAnotherProgram().number())
        lose(NoPermission);
    else if (error.number() == FileError::fromErrno(EMFILE).number())
        lose(TooManyFiles);
    else
        lose(NotSupported);
}

bool KeptOriginals::ready(const FileKey &folderKey)
{
    if (!m_opened) {
        m_opened = true;
        bool opened = false;
        try {
            opened = open();
            if (!opened)
                lose(NoPermission); // an area that is not ours alone, or is in use
        } catch (const FileError &error) {
            lose(error);
        }
        // An area locked but unusable is let go at once: an undo may come meanwhile.
        if (!opened) {
            m_manifest.reset();
            m_shelves.reset();
            m_area.reset();
            m_lock.reset();
        }
    }
    // Only the folder's own scripts are kept: a link's target elsewhere has no place in it.
    if (m_area && folderKey != m_folderKey)
        lose(OtherFolder);
    return m_area && folderKey == m_folderKey;
}

bool KeptOriginals::roomFor(std::uint64_t size)
{
    // A kept original holds blocks the replacement would have freed: the scripts still to come
    // must find room all the same.
    return m_room.take(*m_area, size, m_largest);
}

std::optional<std::size_t> KeptOriginals::enter(bool byLink, const FileKey &folderKey,
                                                const std::string &name,
                                                const FileIdentity &original, bool flush)
{
    const std::lock_guard lock(m_mutex);
    try {
        if (ready(folderKey)) {
            UndoEntry entry;
            entry.index = m_entries + 1;
            entry.byLink = byLink;
            entry.original = original.key;
            entry.size = original.size;
            entry.name = name;
            m_unwritten += ur::entryLine(entry);
            ++m_entries;
            if (flush)
                writeDown(true);
            return m_entries;
        }
    } catch (const FileError &error) {
        lose(error);
    }
    m_allKept = false;
    return std::nullopt;
}

std::optional<std::size_t> KeptOriginals::keepByLink(const NativeFolder &folder,
                                                     const FileKey &folderKey,
                                                     const std::string &name,
                                                     const FileIdentity &original)
{
    return keepNow(true, folderKey, name, original, linkOf(folder, name)).index;
}

const NativeFolder *KeptOriginals::placeFor(std::size_t index)
{
    const NativeFolder *shelf = m_shelves->shelfOf(index);
    // The record before's original of that number goes first, so that the files freed and the
    // files made stay in step.
    if (shelf && index <= m_previous)
        remove(*shelf, KeptShelves::nameOf(index));
    return shelf;
}

KeptOriginals::Linked KeptOriginals::keepAs(std::size_t index, bool byLink,
                                            const FileIdentity &original, const Make &make)
{
    const std::lock_guard lock(m_shelvesMutex);
    // Named before it is kept: an entry whose original is missing is passed over, but an
    // original that no entry names is a second name of its script that nothing lists. The
    // keeper writes down the entries made meanwhile at once.
    if (index > m_named)
        writeEntries();
    try {
        // Not kept for want of room: its entry is passed over as well.
        if (index <= m_named && !roomFor(original.size))
            lose(NoRoom);
        else if (index <= m_named) {
            const std::string kept = KeptShelves::nameOf(index);
            const NativeFolder *shelf = placeFor(index);
            if (shelf && (make(*shelf, kept) || (clearName(*shelf, kept) && make(*shelf, kept)))) {
                // A link that led elsewhere by then, or a copy cut short meanwhile, goes.
                const std::optional<FileIdentity> made = nf::identityAt(*shelf, kept, false);
                if (made && (byLink ? made->key == original.key : made->size == original.size))
                    return {index, made};
                nf::removeName(*shelf, kept);
            } else {
                lose(shelf ? NotSupported : NoPermission);
            }
        }
    } catch (const FileError &error) {
        lose(error);
    }
    m_allKept = false;
    return {};
}

KeptOriginals::Linked KeptOriginals::keepNow(bool byLink, const FileKey &folderKey,
                                             const std::string &name, const FileIdentity &original,
                                             const Make &make)
{
    // The script is replaced right after: its entry must last before.
    const std::optional<std::size_t> index = enter(byLink, folderKey, name, original, true);
    return index ? keepAs(*index, byLink, original, make) : Linked{};
}

KeptOriginals::Make KeptOriginals::linkOf(const NativeFolder &folder, const std::string &name)
{
    return [&folder, name](const NativeFolder &shelf, const std::string &kept) {
        return nf::linkTo(folder, name, shelf, kept);
    };
}

std::future<KeptOriginals::Linked> KeptOriginals::keepByLinkAhead(const NativeFolder &folder,
                                                                  const FileKey &folderKey,
                                                                  const std::string &name,
                                                                  const FileIdentity &original)
{
    const std::optional<std::size_t> index = enter(true, folderKey, name, original, false);
    if (!index) {
        std::promise<Linked> none;
        none.set_value({});
        return none.get_future();
    }
    std::packaged_task<Linked()> task([this, &folder, name, original, index = *index] {
        return keepAs(index, true, original, linkOf(folder, name));
    });
    std::future<Linked> answer = task.get_future();
    bool wake = false;
    {
        const std::lock_guard lock(m_aheadMutex);
        if (m_stopping) { // the run is ending: nothing is kept ahead any more
            task();
            return answer;
        }
        if (!m_keeper.joinable())
            m_keeper = std::thread([this] { keep(); });
        m_ahead.push_back(std::move(task));
        wake = m_ahead.size() >= kWakeEvery;
    }
    if (wake)
        m_aheadWake.notify_one();
    return answer;
}

std::uint64_t KeptOriginals::volume() const
{
    const std::lock_guard lock(m_mutex);
    return m_folderKey.volume;
}

KeptOriginals::Linked KeptOriginals::linked(std::future<Linked> &answer)
{
    if (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        m_aheadWake.notify_one();
    return answer.get();
}

void KeptOriginals::keepWaiting()
{
    writeEntries();
    m_aheadWake.notify_one();
}

void KeptOriginals::keep()
{
    std::unique_lock lock(m_aheadMutex);
    for (;;) {
        m_aheadWake.wait(lock, [this] { return m_stopping || !m_ahead.empty(); });
        if (m_ahead.empty())
            return;
        std::packaged_task<Linked()> task = std::move(m_ahead.front());
        m_ahead.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

void KeptOriginals::stopKeeping() noexcept
{
    {
        const std::lock_guard lock(m_aheadMutex);
        m_stopping = true;
    }
    m_aheadWake.notify_all();
    if (m_keeper.joinable())
        m_keeper.join();
}

std::optional<std::size_t> KeptOriginals::keepByCopy(const NativeFolder &, const FileKey &folderKey,
                                                     const std::string &name,
                                                     const NativeFile &held,
                                                     const FileIdentity &original)
{
    return keepNow(false, folderKey, name, original,
                   [&](const NativeFolder &shelf, const std::string &kept) {
                       return nf::copyTo(held, shelf, kept);
                   })
        .index;
}

bool KeptOriginals::clearName(const NativeFolder &shelf, const std::string &kept)
{
    // Listed now: whatever a killed run left by that name goes.
    if (!nf::identityAt(shelf, kept, false))
        return false;
    remove(shelf, kept);
    return true;
}

void KeptOriginals::remove(const NativeFolder &shelf, const std::string &kept)
{
    NativeFile file = nf::detachName(shelf, kept);
    if (file && m_release)
        m_release(std::move(file));
}

void KeptOriginals::forget(std::size_t index) noexcept
{
    const std::lock_guard lock(m_shelvesMutex);
    try {
        if (const NativeFolder *shelf = m_shelves ? m_shelves->shelfOf(index) : nullptr)
            nf::removeName(*shelf, KeptShelves::nameOf(index));
    } catch (const FileError &) {
        // An undo then finds the script is still that file and passes it over.
    }
}
