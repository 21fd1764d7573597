#include "replacementrun.h"

#include "fileerror.h"
#include "recovery.h"

#include <algorithm>
#include <exception>

namespace nf = nativefiles;

namespace {

// Open files a run may need besides its batch: the script under way, its folder and new file,
// a copy-back's script and recovery folder, the record and its folder, folders to flush, and
// what the recovery at its start opens.
constexpr std::uint64_t kReservedFiles = 16;
constexpr std::size_t kFilesPerPendingScript = 3; // the script, its folder and its new file

} // namespace

DescriptorBudget descriptorBudget(std::uint64_t room, std::size_t batch)
{
    const std::uint64_t free = room > kReservedFiles ? room - kReservedFiles : 0;
    // Each pending script holds its files and, once replaced, may leave its old file to close.
    const auto fits = static_cast<std::size_t>(
        std::min<std::uint64_t>(free / (kFilesPerPendingScript + 1), batch));
    DescriptorBudget budget;
    budget.batch = std::max<std::size_t>(fits, 1);
    const std::uint64_t left = free > budget.batch * kFilesPerPendingScript
                                   ? free - budget.batch * kFilesPerPendingScript
                                   : 0;
    budget.waitingCloses =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, BackgroundCloser::kMostWaiting));
    return budget;
}

ReplacementRun::ReplacementRun(std::size_t batchSize, ReplacementHooks hooks)
    : m_hooks(std::move(hooks)), m_room(m_hooks.diskSpace)
{
    // Past a file-size limit a write fails, reported as a full disk, instead of the signal
    // ending the program with the script half-written.
    nf::ignoreFileSizeSignal();
    finishInterruptedRewrites();
    const std::size_t wanted = std::clamp<std::size_t>(batchSize, 1, RunRecord::kLinkSlot);
    // A desktop session's usual limit (1024) holds a fourth of a full batch; the system's own
    // ceiling is far above it.
    const DescriptorBudget budget = descriptorBudget(
        nf::allowOpenFiles(kReservedFiles + wanted * (kFilesPerPendingScript + 1)), wanted);
    m_batchSize = budget.batch;
    if (m_batchSize > 1)
        m_closer =
            std::make_unique<BackgroundCloser>(BackgroundCloser::kThreads, budget.waitingCloses);
}

ReplacementRun::ReplacementRun(ReadOnly) : m_readOnly(true) {}

ReplacementRun::~ReplacementRun()
{
    try {
        settle();
    } catch (...) {
        // The run already ended another way; its own outcome is what counts.
    }
    try {
        flushFolders();
    } catch (...) {
    }
    if (m_kept)
        m_kept->finish(false);
    dropRecord();
}

std::unique_ptr<ScriptReplacement> ReplacementRun::open(const NativeFolder &folder,
                                                        const std::string &name)
{
    auto script = std::make_unique<ScriptReplacement>(*this, folder, name);
    if (script->alreadyDone())
        return nullptr;
    return script;
}

void ReplacementRun::replace(std::unique_ptr<ScriptReplacement> script)
{
    if (!script->outputStarted())
        return;
    if (m_batchSize <= 1 || script->copiesBack()) {
        settle();
        try {
            script->flushData();
            script->commit();
        } catch (const FileError &error) {
            throw error.orAbout(script->name());
        }
        ++m_replaced;
        return;
    }
    if (m_kept)
        script->keepAhead();
    m_pending.push_back(std::move(script));
    if (m_pending.size() >= m_batchSize)
        settle();
}

void ReplacementRun::settle()
{
    auto pending = std::move(m_pending);
    m_pending.clear();
    if (pending.empty())
        return;
    if (m_kept)
        m_kept->keepWaiting();
    // One flush of the file system writes every new text of the batch with a single wait for
    // the disk; flushing them one by one waits for it once a script. Where the system offers no
    // such flush, each is flushed on its own.
    std::map<std::uint64_t, bool> flushedVolumes; // a link may lead to another file system
    if (pending.size() > 1) {
        for (const auto &script : pending) {
            const std::uint64_t volume = script->volume();
            if (!flushedVolumes.contains(volume))
                flushedVolumes[volume] = script->flushFileSystem();
        }
    }
    std::size_t flushed = 0;
    std::exception_ptr flushFailure;
    try {
        for (const auto &script : pending) {
            const auto volume = flushedVolumes.find(script->volume());
            if (volume != flushedVolumes.end() && volume->second)
                script->checkWritten();
            else
                script->flushData();
            ++flushed;
        }
    } catch (const FileError &error) {
        flushFailure = std::make_exception_ptr(error.orAbout(pending[flushed]->name()));
    } catch (...) {
        flushFailure = std::current_exception();
    }
    if (m_kept) {
        const auto volume = flushedVolumes.find(m_kept->volume());
        m_kept->entriesWritten(volume != flushedVolumes.end() && volume->second);
    }
    // The record names them all with one flush; then each replacement follows its own script's
    // flush, and a failure leaves the later ones as they were.
    std::vector<ScriptReplacement *> ready;
    for (std::size_t i = 0; i < flushed; ++i)
        ready.push_back(pending[i].get());
    noteReplacements(ready);
    for (ScriptReplacement *script : ready) {
        try {
            script->commit();
        } catch (const FileError &error) {
            throw error.orAbout(script->name());
        }
        ++m_replaced;
    }
    if (flushFailure)
        std::rethrow_exception(flushFailure);
}

void ReplacementRun::finish()
{
    settle();
    flushFolders();
    if (m_kept)
        m_kept->finish(true);
    dropRecord();
}

void ReplacementRun::keepOriginals(std::unique_ptr<OriginalKeeper> keeper)
{
    m_kept = std::move(keeper);
}

OriginalKeeper::Release ReplacementRun::releaser()
{
    return [this](NativeFile file) { release(std::move(file)); };
}

void ReplacementRun::release(NativeFile oldFile)
{
    if (m_closer)
        m_closer->close(std::move(oldFile));
    else
        oldFile.reset();
}

void ReplacementRun::noteReplacements(const std::vector<ScriptReplacement *> &scripts)
{
    std::vector<RecordedReplace> entries;
    std::vector<ScriptReplacement *> noted;
    for (ScriptReplacement *script : scripts) {
        if (std::optional<RecordedReplace> entry = script->unnotedReplacement()) {
            entries.push_back(std::move(*entry));
            noted.push_back(script);
        }
    }
    if (entries.empty())
        return;
    try {
        record().noteReplacements(entries);
    } catch (const FileError &) {
        // Without a record a kill in the next instant may leave a name of the run's behind (and,
        // where the system's replace is two renames, the script under its backup name); the
        // rewrite itself is still whole.
    }
    for (ScriptReplacement *script : noted)
        script->replacementNoted();
}

void ReplacementRun::makeRoomFor(const NativeFolder &folder, std::uint64_t size)
{
    // Before a script's new text is written: the batch's new texts wait beside their old ones,
    // which one script at a time would have freed by now. Where they would leave the disk less
    // room than it keeps, they are settled first and their old texts freed, so that batching
    // never fails a run that one script at a time would finish.
    if (m_batchSize <= 1)
        return;
    m_largest = std::max(m_largest, size);
    if (m_room.take(folder, size, m_largest) || m_pending.empty())
        return;
    settle();
    if (m_closer)
        m_closer->waitIdle();
    m_room.askAgain();
    m_room.take(folder, size, m_largest);
}

void ReplacementRun::flushLater(const NativeFolder &folder, const FileKey &key)
{
    if (m_foldersToFlush.contains(key))
        return;
    m_foldersToFlush.emplace(key, NativeFolder{nf::duplicate(folder.file), folder.path});
}

void ReplacementRun::flushFolders()
{
    auto folders = std::move(m_foldersToFlush);
    m_foldersToFlush.clear();
    for (const auto &[key, folder] : folders)
        nf::flushFolder(folder);
}

void ReplacementRun::dropRecord() noexcept
{
    if (m_record && !m_keepRecord)
        m_record->remove();
    m_record.reset();
}

RunRecord &ReplacementRun::record()
{
    if (!m_record)
        m_record = std::make_unique<RunRecord>();
    return *m_record;
}

std::string ReplacementRun::linkName()
{
    try {
        return record().temporaryName(RunRecord::kLinkSlot);
    } catch (const FileError &) {
        return kRunNamePrefix + nf::randomToken(); // no record to name it in
    }
}

const std::string &ReplacementRun::folderPath(const NativeFolder &folder, const FileKey &key)
{
    // Once a folder, known by its identity: its path costs more to learn.
    auto known = m_folderPaths.find(key);
    if (known == m_folderPaths.end())
        known = m_folderPaths.emplace(key, nf::pathOf(folder)).first;
    return known->second;
}
