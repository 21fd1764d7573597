#pragma once

#include "recoverypolicy.h"
#include "uniquefd.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The file system calls the replacement and the recovery share. Failures throw FileError,
// except where a function says it returns an invalid descriptor with errno set.

[[noreturn]] void failWith(int systemError);

std::size_t readFull(int fd, unsigned char *data, std::size_t size, std::uint64_t offset);
void writeAll(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset);
// Writes into a fresh file, leaving whole blocks of zeros as holes so that a sparse script
// stays sparse; the file's length is set at the end.
void writeSkippingHoles(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset);
// Copies `length` bytes between two files by offset. False when the source ends sooner.
bool copyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t length, bool keepHoles);
// Copies `length` bytes over a file that already has bytes there (read through `toRead`, the
// same file): a whole block of zeros becomes a hole, unless it already reads as zeros. False
// when the source ends sooner.
bool copyOver(int from, std::uint64_t fromOffset, int to, int toRead, std::uint64_t toOffset,
              std::uint64_t length);

void flushFolderFd(int fd);

// Opens a folder; a path longer than the system's limit is walked one folder at a time.
// Returns an invalid descriptor with errno set on failure.
UniqueFd tryOpenFolder(const std::string &path);
// Opens a folder by its absolute path one folder at a time, following no link on the way
// (ELOOP or ENOTDIR where one stands). Returns an invalid descriptor with errno set.
UniqueFd openFolderWithoutLinks(const std::string &path);
// The path of an open file or folder as the system tells it, without links.
std::string descriptorPath(int fd);

std::string randomHex(std::size_t bytes);
FileFacts factsOf(const struct stat &status);
