#pragma once

#include <sys/stat.h>

#include "temporaryfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A temporary folder of scripts, removed with everything in it at the end of the test.
class ScriptFolder
{
public:
    const std::filesystem::path &path() const { return m_folder.path(); }
    std::string folder() const { return path().string(); }

    std::filesystem::path write(const std::string &name, const std::string &bytes) const
    {
        const auto file = path() / name;
        writeFile(file, bytes);
        return file;
    }

    std::string read(const std::string &name) const { return readFile(path() / name); }

    static std::string readFile(const std::filesystem::path &file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Everything in the folder, so a test can see that no stray file was left behind.
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto &entry : std::filesystem::directory_iterator(path()))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    TemporaryFolder m_folder;
};
