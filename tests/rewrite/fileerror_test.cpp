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
        {ENOENT, 53}, {ENOTDIR, 76},   {EACCES, 70}, {EPERM, 70},  {ETXTBSY, 70}, {EROFS, 75},
        {EISDIR, 75}, {ELOOP, 75},     {ENOSPC, 61}, {EDQUOT, 61}, {EFBIG, 61},   {EIO, 57},
        {ENXIO, 68},  {ENOMEDIUM, 68}, {ENODEV, 68}, {EMFILE, 67}, {ENFILE, 67},  {ENOMEM, 7},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FileError::fromErrno(c.systemError).number(), c.number) << c.systemError;
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
