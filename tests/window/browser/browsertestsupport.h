#pragma once

#include "drivesource.h"
#include "temporaryfolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// A temporary place for folders and scripts, removed with everything in it at the end.
class TempPlace
{
public:
    explicit TempPlace(const std::filesystem::path &base = std::filesystem::temp_directory_path())
        : m_folder(base)
    {
    }

    // Native path of something inside, "" for the place itself.
    std::string at(const std::string &relative = {}) const
    {
        return relative.empty() ? m_folder.path().string() : (m_folder.path() / relative).string();
    }

    std::string folder(const std::string &relative) const
    {
        std::filesystem::create_directories(m_folder.path() / relative);
        return at(relative);
    }

    std::string file(const std::string &relative, const std::string &bytes = "x") const
    {
        const auto path = m_folder.path() / relative;
        writeFile(path, bytes);
        return path.string();
    }

private:
    TemporaryFolder m_folder;
};

// Memory, where the system has it: for tests that make tens of thousands of files.
inline std::filesystem::path fastTempBase()
{
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

// Drives that are folders of a test; one can be taken away as a stick is pulled out.
class FolderDriveSource final : public DriveSource
{
public:
    static std::unique_ptr<FolderDriveSource> of(const std::vector<std::string> &roots)
    {
        auto source = std::make_unique<FolderDriveSource>();
        for (const std::string &root : roots)
            source->add(root);
        return source;
    }

    void add(const std::string &root, const QString &volumeName = {})
    {
        m_drives.push_back(Drive{root, volumeName});
    }
    // As a stick pulled out: no longer offered, and not ready for whoever still holds it.
    void takeAway(const std::string &root)
    {
        m_gone.insert(root);
        std::erase_if(m_drives, [&](const Drive &drive) { return drive.rootPath == root; });
    }

    std::vector<Drive> drives() const override { return m_drives; }
    bool isReady(const std::string &root) const override
    {
        return m_gone.count(root) == 0 && std::filesystem::is_directory(root);
    }

private:
    std::vector<Drive> m_drives;
    std::set<std::string> m_gone;
};
