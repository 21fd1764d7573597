#pragma once

#include "temporaryfolder.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Paths as the program takes them: UTF-8.
inline std::filesystem::path pathFromUtf8(const std::string &text)
{
    return std::u8string(text.begin(), text.end());
}

inline std::string utf8Of(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// A script of `bytes` bytes or a little more, with tags between `left` and `right` on every line.
inline std::string tagged(std::size_t bytes, char left, char right)
{
    std::string text;
    while (text.size() < bytes)
        text += std::string("x") + left + "nombre" + right + " y\r\n";
    text.back() = '.';
    return text;
}

// Large texts are compared by size and hash: a failing comparison of the texts themselves makes
// GoogleTest build a line diff of them.
inline std::pair<std::size_t, std::size_t> fingerprint(const std::string &text)
{
    return {text.size(), std::hash<std::string>{}(text)};
}

// Every test process of this program keeps its runs' records and recovery files in a folder of
// its own, where the program looks for a user's private folder ($XDG_STATE_HOME, %LOCALAPPDATA%);
// a child process that a test starts keeps its parent's.
class PrivateStateFolder
{
public:
    PrivateStateFolder()
    {
        if (const char *inherited = std::getenv(kInherited)) {
            m_path = pathFromUtf8(inherited);
            return;
        }
        m_folder.emplace();
        m_path = m_folder->path();
        set(kInherited, utf8Of(m_path));
#ifdef _WIN32
        set("LOCALAPPDATA", utf8Of(m_path));
#else
        set("XDG_STATE_HOME", utf8Of(m_path));
#endif
    }

    // The folder the runs' records are in.
    std::filesystem::path records() const
    {
#ifdef _WIN32
        return m_path / "Dovezurad";
#else
        return m_path / "dovezurad";
#endif
    }

    // Every file in it, so that a test sees that a run left nothing behind.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        if (std::filesystem::exists(records()))
            for (const auto &entry : std::filesystem::directory_iterator(records()))
                names.push_back(utf8Of(entry.path().filename()));
        return names;
    }

private:
    static constexpr const char *kInherited = "DOVEZURAD_TEST_STATE";

    static void set(const char *name, const std::string &utf8)
    {
#ifdef _WIN32
        // For the program, which reads the process's variables, and for child processes.
        SetEnvironmentVariableW(pathFromUtf8(name).c_str(), pathFromUtf8(utf8).c_str());
#else
        ::setenv(name, utf8.c_str(), 1);
#endif
    }

    std::optional<TemporaryFolder> m_folder;
    std::filesystem::path m_path;
};

inline const PrivateStateFolder kPrivateState;

// A temporary folder of scripts, removed with everything in it at the end of the test.
class ScratchFolder
{
public:
    const std::filesystem::path &path() const { return m_folder.path(); }
    // As the program takes folders: UTF-8.
    std::string folder() const { return utf8Of(path()); }

    std::filesystem::path write(const std::string &name, const std::string &bytes) const
    {
        const auto file = path() / pathFromUtf8(name);
        writeFile(file, bytes);
        return file;
    }

    std::string read(const std::string &name) const
    {
        return readFile(path() / pathFromUtf8(name));
    }

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
            result.push_back(utf8Of(entry.path().filename()));
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    TemporaryFolder m_folder;
};
