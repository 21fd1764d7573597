#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

// A folder of a test's own, removed with everything in it when the test ends.
class TemporaryFolder
{
public:
    explicit TemporaryFolder(
        const std::filesystem::path &base = std::filesystem::temp_directory_path())
    {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const auto candidate = base / ("dovezurad-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error))
                m_path = candidate;
            else if (error)
                break;
        }
        if (m_path.empty())
            throw std::runtime_error("cannot make a temporary folder in " + base.string());
        // The user's own, as mkdtemp makes it.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;
    ~TemporaryFolder()
    {
        std::error_code ignored;
        // A test may have taken its own rights away; the folder goes all the same.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
#ifdef _WIN32
        removeTree(L"\\\\?\\" + m_path.wstring());
#else
        std::filesystem::remove_all(m_path, ignored);
#endif
    }

    const std::filesystem::path &path() const
    {
        return m_path;
    }

private:
#ifdef _WIN32
    // With mingw's runtime, std::filesystem lists the working folder in place of a folder past
    // MAX_PATH, so the system's own calls remove it, by verbatim paths, read-only files too.
    static void removeTree(const std::wstring &folder)
    {
        WIN32_FIND_DATAW entry;
        const HANDLE found = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (found != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                const std::wstring path = folder + L"\\" + name;
                const DWORD kind = entry.dwFileAttributes;
                if (name == L"." || name == L"..")
                    continue;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if ((kind & FILE_ATTRIBUTE_DIRECTORY) && !(kind & FILE_ATTRIBUTE_REPARSE_POINT))
                    removeTree(path);
                else if (kind & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryW(path.c_str()); // the link, not what it leads to
                else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(found, &entry));
            FindClose(found);
        }
        RemoveDirectoryW(folder.c_str());
    }
#endif

    std::filesystem::path m_path;
};

// Writes bytes to a file exactly, making the folders on its way.
inline void writeFile(const std::filesystem::path &file, const std::string &bytes)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}
