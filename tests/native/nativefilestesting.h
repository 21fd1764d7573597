#pragma once

// What the mechanism's tests share: texts, and the steps a run takes, through nativefiles.h.
#include "errorof.h"
#include "fileerror.h"
#include "nativefiles.h"
#include "temporaryfolder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace nativefilestesting {

namespace fs = std::filesystem;
namespace nf = nativefiles;

// CRLF, bytes of a one-byte code page (cp1252 quotes, ÿ) and spaces at both ends.
inline const std::string kOld = "  {a}\r\n\x93{b}\x94 \xff\r\n  ";
inline const std::string kNew = "<a>\r\n\x93<b>\x94 \xff\r\n";
inline const std::string kTemporary = ".dovezurad-0123456789abcdef-0";
inline const std::string kBackup = kTemporary + "-anterior";

#ifdef _WIN32
// Past MAX_PATH the test's own calls need the verbatim spelling too.
inline fs::path reachable(const fs::path &path)
{
    return L"\\\\?\\" + path.wstring();
}

// Attributes a new file would not have.
inline void markUnusual(const fs::path &file)
{
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
}
#else
inline fs::path reachable(const fs::path &path)
{
    return path;
}

inline void markUnusual(const fs::path &file)
{
    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
}
#endif

inline std::string utf8(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

inline fs::path fromUtf8(const std::string &text)
{
    return std::u8string(text.begin(), text.end());
}

inline std::string contents(const NativeFile &file)
{
    std::string text(static_cast<std::size_t>(nf::identityOf(file).size), '\0');
    text.resize(nf::readAt(file, 0, reinterpret_cast<unsigned char *>(text.data()), text.size()));
    return text;
}

// Read by another program, which shares it with any writer.
inline std::string readPath(const fs::path &file)
{
    std::ifstream in(reachable(file), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeAll(const NativeFile &file, const std::string &text)
{
    nf::writeAt(file, 0, reinterpret_cast<const unsigned char *>(text.data()), text.size());
    nf::setLength(file, text.size());
    nf::flushData(file);
}

// Every file in the folder, so that a test sees that nothing was left behind.
inline std::vector<std::string> namesIn(const fs::path &folder)
{
    std::vector<std::string> names = nf::namesEndingWith(nf::openFolder(utf8(folder)), "");
    std::sort(names.begin(), names.end());
    return names;
}

// Opens and locks a script the way a run does.
inline NativeFile hold(const NativeFolder &folder, const std::string &name)
{
    NativeFile script = nf::openScript(folder, name);
    if (!nf::tryLock(script))
        throw FileError::heldByAnotherProgram();
    return script;
}

// The rename path as the policy drives it; the new file's identity, which the script's name
// then leads to.
inline FileIdentity replaceByRename(const NativeFolder &folder, const std::string &name,
                                    const std::string &text)
{
    NativeFile script = hold(folder, name);
    NativeFile made = nf::createExclusive(folder, kTemporary);
    EXPECT_TRUE(made && nf::giveIdentity(made, script));
    writeAll(made, text);
    const FileIdentity identity = nf::identityOf(made);
    EXPECT_TRUE(nf::replace(folder, made, kTemporary, script, name, kBackup));
    return identity;
}

} // namespace nativefilestesting
