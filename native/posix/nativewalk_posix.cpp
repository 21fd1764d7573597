// The walk to a run's folder on POSIX: one folder at a time from "/" or the working folder, each
// opened relative to the one before and never through a link. A link met on the way is read
// through a handle of its own, so that the text read is that very link's, and its text is
// walked the same way before the rule is asked about where it led.
#include "nativefiles.h"

#include "fileerror.h"
#include "posixfiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <optional>
#include <string>
#include <vector>

using namespace posixfiles;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// As many links as the system follows on one path.
constexpr int kMostLinks = 40;
constexpr const char *kRoot = "/";

// A name to enter, "/" to start again from the root, or the end of a link's text, where the
// folder reached is where the link leads.
struct Step
{
    std::string name;
    std::string shown; // the path up to here, as the user or the link spelt it
    std::optional<FileIdentity> linkEnds;
};

std::string joined(const std::string &folder, const std::string &name)
{
    return folder.empty() || folder.ends_with('/') ? folder + name : folder + '/' + name;
}

// The steps of `path`, in front of those still to come; `from` is where a relative one starts.
void walkNext(std::deque<Step> &steps, const std::string &path, std::string from)
{
    std::vector<Step> parts;
    if (path.starts_with('/')) {
        from = kRoot;
        parts.push_back({kRoot, from, std::nullopt});
    }
    for (std::size_t begin = 0; begin <= path.size();) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".")
            continue;
        from = joined(from, part);
        parts.push_back({std::move(part), from, std::nullopt});
    }
    steps.insert(steps.begin(), parts.begin(), parts.end());
}

std::string parentOf(const std::string &shown)
{
    const std::size_t slash = shown.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? kRoot : shown.substr(0, slash);
}

std::string linkText(const NativeFile &link)
{
    std::string text(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(fd(link), "", text.data(), text.size());
        if (length < 0)
            fail(errno);
        if (static_cast<std::size_t>(length) < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

NativeFile openOrFail(const char *path)
{
    NativeFile folder = adopt(::open(path, kFolderFlags));
    if (!folder)
        fail(errno);
    return folder;
}

} // namespace

namespace nativefiles {

NativeFolder openFolderWalking(const std::string &path, const LinkRule &mayFollow)
{
    if (path.empty())
        throw FileError::pathNotFound();
    // An absolute path starts from the root: a working folder the runner may not read is not
    // asked for.
    NativeFile folder = path.starts_with('/') ? NativeFile{} : openOrFail(".");
    std::deque<Step> steps;
    walkNext(steps, path, "");
    int links = 0;
    while (!steps.empty()) {
        const Step step = std::move(steps.front());
        steps.pop_front();
        if (step.linkEnds) {
            if (!mayFollow(*step.linkEnds, identityOf(folder)))
                throw FileError::heldByAnotherProgram().about("el enlace " + step.shown +
                                                              " es de otro usuario");
            continue;
        }
        if (step.name == kRoot) {
            folder = openOrFail(kRoot);
            continue;
        }
        NativeFile next = adopt(::openat(fd(folder), step.name.c_str(), kFolderFlags));
        if (next) {
            folder = std::move(next);
            continue;
        }
        if (errno == ENOENT)
            throw FileError::pathNotFound();
        if (errno != ELOOP && errno != ENOTDIR)
            fail(errno);
        // A link, or something that is not a folder.
        const NativeFile link =
            adopt(::openat(fd(folder), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!link)
            throw FileError::pathNotFound();
        const FileIdentity identity = identityOf(link);
        if (identity.kind != FileIdentity::Kind::Link)
            throw FileError::pathNotFound();
        if (++links > kMostLinks)
            fail(ELOOP);
        steps.push_front({{}, step.shown, identity});
        walkNext(steps, linkText(link), parentOf(step.shown));
    }
    return {std::move(folder), path};
}

} // namespace nativefiles
