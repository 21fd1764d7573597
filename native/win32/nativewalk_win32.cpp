// The walk to a run's folder on Windows, where the calls go by path: each folder on the way is
// opened in turn and held without delete sharing, so that no folder, link or junction on it can
// be renamed, removed or replaced while the run holds the folder. A link or junction is looked
// at itself first, and followed only where the rule allows it.
#include "nativefiles.h"

#include "fileerror.h"
#include "win32files.h"
#include "win32names.h"

#include <windows.h>

#include <algorithm>
#include <vector>

using namespace win32files;
using namespace win32names;

namespace {

// Traversing is data access: a handle that asks for it takes part in sharing, so that nobody
// who asks to delete or rename the folder gets in. Attribute access alone would not.
constexpr DWORD kWayAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

NativeFile openOnTheWay(const std::wstring &path, bool followLinks)
{
    NativeFile part =
        open(path, kWayAccess, kShareFolder, OPEN_EXISTING,
             FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
    if (!part) {
        const DWORD error = GetLastError();
        if (missing(error))
            throw FileError::pathNotFound();
        fail(error);
    }
    return part;
}

} // namespace

namespace nativefiles {

NativeFolder openFolderWalking(const std::string &path, const LinkRule &mayFollow)
{
    if (path.empty())
        throw FileError::pathNotFound();
    const std::wstring full = verbatim(fullPath(toWide(path)));
    std::vector<NativeFile> way;
    for (std::size_t end = rootLength(full); end < full.size();) {
        end = std::min(full.find(L'\\', end + 1), full.size());
        const std::wstring prefix = full.substr(0, end);
        NativeFile part = openOnTheWay(prefix, false);
        const FileIdentity::Kind kind = kindOf(part);
        if (kind == FileIdentity::Kind::Link) {
            NativeFile target = openOnTheWay(prefix, true);
            if (!mayFollow(identityOf(part), identityOf(target)))
                throw FileError::heldByAnotherProgram().about(
                    "el enlace " + fromWide(plainPath(prefix)) + " es de otro usuario");
            way.push_back(std::move(target));
        } else if (kind != FileIdentity::Kind::Folder) {
            throw FileError::pathNotFound();
        }
        way.push_back(std::move(part));
    }
    // By a path that now leads where it led when each step was looked at.
    NativeFolder folder = openFolder(path);
    folder.way = std::move(way);
    return folder;
}

} // namespace nativefiles
