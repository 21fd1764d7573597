#include "drivesource.h"

#include <QString>

#include <windows.h>

namespace {

std::wstring wide(const std::string &utf8)
{
    return QString::fromStdString(utf8).toStdWString();
}

// Asks the drive itself, so an empty reader answers "not ready" (the program turns off the
// system's "insert a disk" dialog at start).
bool readVolume(const std::wstring &root, QString *volumeName)
{
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root.c_str(), name, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr,
                               0))
        return false;
    if (volumeName != nullptr)
        *volumeName = QString::fromWCharArray(name);
    return true;
}

} // namespace

std::vector<Drive> StorageDriveSource::drives() const
{
    // The logical drives as "C:\", each closed by a null, the list by a second one.
    std::wstring roots(GetLogicalDriveStringsW(0, nullptr), L'\0');
    roots.resize(GetLogicalDriveStringsW(static_cast<DWORD>(roots.size()), roots.data()));
    std::vector<Drive> result;
    for (std::size_t start = 0; start < roots.size();) {
        const std::size_t end = roots.find(L'\0', start);
        const std::wstring root = roots.substr(start, end - start);
        start = end == std::wstring::npos ? roots.size() : end + 1;
        if (root.empty() || GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR)
            continue;
        // A reader without a disc stays in the list, as the user expects to pick it.
        Drive drive{QString::fromStdWString(root).toStdString(), {}};
        readVolume(root, &drive.volumeName);
        result.push_back(std::move(drive));
    }
    return result;
}

bool StorageDriveSource::isReady(const std::string &rootPath) const
{
    const std::wstring root = wide(rootPath);
    const UINT type = GetDriveTypeW(root.c_str());
    return type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN && readVolume(root, nullptr);
}
