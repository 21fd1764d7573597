#include "fileerror.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(FileErrorTable, SystemErrorsMapToTheNumbersUsersKnow)
{
    const struct
    {
        int systemError;
        std::int32_t number;
    } cases[] = {
        {ENOENT, 53},    {ENOTDIR, 76}, {EACCES, 70}, {EPERM, 70}, {ETXTBSY, 70}, {EROFS, 75},
        {EISDIR, 75},    {ELOOP, 75},   {ENOSPC, 61}, {EFBIG, 61}, {EIO, 57},     {ENXIO, 68},
        {ENODEV, 68},    {EMFILE, 67},  {ENFILE, 67}, {ENOMEM, 7},
#ifdef EDQUOT // Windows' C runtime has neither
        {EDQUOT, 61},
#endif
#ifdef ENOMEDIUM
        {ENOMEDIUM, 68},
#endif
    };
    for (const auto &c : cases)
        EXPECT_EQ(FileError::fromErrno(c.systemError).number(), c.number) << c.systemError;
}

TEST(FileErrorTable, WindowsErrorsMapToTheSameNumbers)
{
    const struct
    {
        std::uint32_t win32Error;
        std::int32_t number;
    } cases[] = {
        {2, 53},  {3, 76},    {267, 76},  {5, 70},    {32, 70},   {1175, 70}, {112, 61}, {1295, 61},
        {31, 57}, {1117, 57}, {21, 68},   {55, 68},   {1112, 68}, {4, 67},    {8, 7},    {1450, 7},
        {80, 58}, {183, 58},  {1176, 75}, {1177, 75}, {123, 75},  {87, 75},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FileError::fromWin32(c.win32Error).number(), c.number) << c.win32Error;
    EXPECT_STREQ(FileError::fromWin32(32).what(), "70 Permiso denegado");
}

TEST(FileErrorTable, DescriptionsAreSpanishAndFormTheMessage)
{
    const FileError full = FileError::fromErrno(ENOSPC);
    EXPECT_EQ(full.description(), "Disco lleno");
    EXPECT_STREQ(full.what(), "61 Disco lleno");
    EXPECT_EQ(FileError::fromErrno(ENODEV).description(), "Dispositivo no disponible");
    EXPECT_EQ(FileError::fromErrno(EIO).description(), "Error de E/S en el dispositivo");
    EXPECT_EQ(FileError::fromErrno(EMFILE).description(), "Demasiados archivos");
    EXPECT_EQ(FileError::fromErrno(EACCES).description(), "Permiso denegado");
    EXPECT_EQ(FileError::outOfMemory().description(), "Memoria insuficiente");
}
