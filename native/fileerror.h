#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

// A failure on the file system as the user sees it: a number, the same on every platform and the
// command line's exit status, and a Spanish description.
class FileError : public std::runtime_error
{
public:
    FileError(std::int32_t number, const std::string &description);

    std::int32_t number() const { return m_number; }
    const std::string &description() const { return m_description; }
    // What the failure concerns, for a user who must find it ("el enlace /srv/equipo es de otro
    // usuario"): native bytes, empty when the number says enough. The window shows the number
    // and description only; the command line adds this after them.
    const std::string &detail() const { return m_detail; }
    FileError about(std::string detail) const
    {
        FileError error = *this;
        error.m_detail = std::move(detail);
        return error;
    }
    // The same, where nothing more precise was said already.
    FileError orAbout(std::string detail) const
    {
        return m_detail.empty() ? about(std::move(detail)) : *this;
    }

    static FileError fromErrno(int systemError);
    // A Windows error code (GetLastError); the codes are numbers here, so that the table is one
    // and is tested on every platform.
    static FileError fromWin32(std::uint32_t win32Error);
    static FileError fileNotFound();
    static FileError pathNotFound();
    static FileError accessError();
    // A name the program was about to make is taken.
    static FileError fileExists();
    // A file ended sooner than it was written, or the device failed.
    static FileError deviceError();
    // A script locked by another run, or changed by another program while it was rewritten.
    static FileError heldByAnotherProgram();
    static FileError noPrivateFolder();
    static FileError deviceUnavailable();
    static FileError outOfMemory();

private:
    std::int32_t m_number = 0;
    std::string m_description;
    std::string m_detail;
};
