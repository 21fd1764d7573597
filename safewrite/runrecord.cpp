#include "runrecord.h"

#include "fileerror.h"

namespace nf = nativefiles;

std::optional<NativeFolder> openRecordFolder(const std::string &path, bool create)
{
    std::optional<NativeFolder> folder = nf::openPrivateFolder(path, create);
    if (folder && !trustedPrivateFolder(nf::identityOf(folder->file)))
        folder.reset();
    return folder;
}

RunRecord::RunRecord() : m_token(nf::randomToken())
{
    std::optional<NativeFolder> state;
    for (const std::string &path : nf::privateFolderCandidates()) {
        state = openRecordFolder(path, true);
        if (state)
            break;
    }
    if (!state)
        throw FileError::noPrivateFolder();
    m_stateFolder = std::move(*state);
    for (std::size_t slot = 0; slot <= kLinkSlot; ++slot)
        m_names.push_back(kRunNamePrefix + nf::randomToken());

    // Held from its first instant: a record is never seen free while its run lives, so no other
    // start takes it for a dead run's. The names need no flush of their own: the entry that
    // first makes use of one flushes them with it.
    m_file = nf::createLockedRecord(m_stateFolder, m_token + kRecordSuffix);
    const std::string names = recordTemporaryNames(m_names);
    nf::writeAt(m_file, 0, reinterpret_cast<const unsigned char *>(names.data()), names.size());
    m_size = names.size();
    nf::flushFolder(m_stateFolder);
}

void RunRecord::append(const std::string &entries)
{
    nf::writeAt(m_file, m_size, reinterpret_cast<const unsigned char *>(entries.data()),
                entries.size());
    m_size += entries.size();
    nf::flushData(m_file);
}

void RunRecord::noteFolder(const std::string &path)
{
    if (m_folders.contains(path))
        return;
    append(recordFolder(path));
    m_folders.insert(path);
}

void RunRecord::noteRecoveryPlace(const RecoveryPlace &place)
{
    append(recordRecoveryPlace(place));
}

void RunRecord::noteCopyBack(const RecordedCopyBack &copyBack)
{
    append(recordCopyBack(copyBack));
}

void RunRecord::noteReplacements(const std::vector<RecordedReplace> &replacements)
{
    std::string entries;
    std::set<std::string> folders;
    for (const RecordedReplace &replace : replacements) {
        if (!m_folders.contains(replace.folder) && folders.insert(replace.folder).second)
            entries += recordFolder(replace.folder);
        entries += recordReplace(replace);
    }
    if (entries.empty())
        return;
    append(entries);
    m_folders.merge(folders);
}

void RunRecord::remove() noexcept
{
    try {
        nf::removeName(m_stateFolder, m_token + kRecordSuffix);
    } catch (...) {
        // Left for a later start, which finds it free and nothing in it to do.
    }
}
