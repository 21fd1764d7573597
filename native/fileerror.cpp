#include "fileerror.h"

#include <cerrno>

namespace {

struct ErrorEntry
{
    std::int32_t number;
    const char *description;
};

constexpr ErrorEntry kOutOfMemory{7, "Memoria insuficiente"};
constexpr ErrorEntry kFileNotFound{53, "No se encontró el archivo"};
constexpr ErrorEntry kDeviceIo{57, "Error de E/S en el dispositivo"};
constexpr ErrorEntry kFileExists{58, "El archivo ya existe"};
constexpr ErrorEntry kDiskFull{61, "Disco lleno"};
constexpr ErrorEntry kTooManyFiles{67, "Demasiados archivos"};
constexpr ErrorEntry kDeviceUnavailable{68, "Dispositivo no disponible"};
constexpr ErrorEntry kPermissionDenied{70, "Permiso denegado"};
constexpr ErrorEntry kAccessError{75, "Error de acceso a la ruta o el archivo"};
constexpr ErrorEntry kPathNotFound{76, "No se encontró la ruta de acceso"};
// Where the run cannot keep the record that a later start would need after a kill.
constexpr ErrorEntry kNoPrivateFolder{76, "No hay ninguna carpeta privada para el registro de la "
                                          "ejecución ($XDG_STATE_HOME o ~/.local/state, "
                                          "$XDG_RUNTIME_DIR, $TMPDIR o /tmp)"};

struct ErrnoEntry
{
    int systemError;
    const ErrorEntry &entry;
};

// Every system error we can tell apart; anything else is reported as an access fault.
const ErrnoEntry kErrnoTable[] = {
    {ENOENT, kFileNotFound},
    {ENOTDIR, kPathNotFound},
    {EEXIST, kFileExists},
    {EACCES, kPermissionDenied},
    {EPERM, kPermissionDenied},
    {ETXTBSY, kPermissionDenied},
    {EBUSY, kPermissionDenied},
    {EAGAIN, kPermissionDenied},
    {ENOSPC, kDiskFull},
    {EFBIG, kDiskFull},
#ifdef EDQUOT
    {EDQUOT, kDiskFull},
#endif
    {EIO, kDeviceIo},
    {ENXIO, kDeviceUnavailable},
    {ENODEV, kDeviceUnavailable},
#ifdef ENOMEDIUM
    {ENOMEDIUM, kDeviceUnavailable},
#endif
    {EMFILE, kTooManyFiles},
    {ENFILE, kTooManyFiles},
    {ENOMEM, kOutOfMemory},
};

struct Win32Entry
{
    std::uint32_t win32Error;
    const ErrorEntry &entry;
};

// Windows' own codes, by number: this file builds without <windows.h>. Anything else, such as
// ERROR_UNABLE_TO_MOVE_REPLACEMENT, is an access fault.
const Win32Entry kWin32Table[] = {
    {2, kFileNotFound},         // ERROR_FILE_NOT_FOUND
    {3, kPathNotFound},         // ERROR_PATH_NOT_FOUND
    {53, kPathNotFound},        // ERROR_BAD_NETPATH
    {67, kPathNotFound},        // ERROR_BAD_NET_NAME
    {267, kPathNotFound},       // ERROR_DIRECTORY: a file where a folder was named
    {80, kFileExists},          // ERROR_FILE_EXISTS
    {183, kFileExists},         // ERROR_ALREADY_EXISTS
    {5, kPermissionDenied},     // ERROR_ACCESS_DENIED
    {32, kPermissionDenied},    // ERROR_SHARING_VIOLATION: another program holds it
    {33, kPermissionDenied},    // ERROR_LOCK_VIOLATION
    {19, kPermissionDenied},    // ERROR_WRITE_PROTECT
    {65, kPermissionDenied},    // ERROR_NETWORK_ACCESS_DENIED
    {303, kPermissionDenied},   // ERROR_DELETE_PENDING
    {1175, kPermissionDenied},  // ERROR_UNABLE_TO_REMOVE_REPLACED
    {112, kDiskFull},           // ERROR_DISK_FULL
    {39, kDiskFull},            // ERROR_HANDLE_DISK_FULL
    {223, kDiskFull},           // ERROR_FILE_TOO_LARGE
    {1295, kDiskFull},          // ERROR_DISK_QUOTA_EXCEEDED
    {23, kDeviceIo},            // ERROR_CRC
    {25, kDeviceIo},            // ERROR_SEEK
    {27, kDeviceIo},            // ERROR_SECTOR_NOT_FOUND
    {29, kDeviceIo},            // ERROR_WRITE_FAULT
    {30, kDeviceIo},            // ERROR_READ_FAULT
    {31, kDeviceIo},            // ERROR_GEN_FAILURE
    {1117, kDeviceIo},          // ERROR_IO_DEVICE
    {21, kDeviceUnavailable},   // ERROR_NOT_READY: a drive without its disk
    {15, kDeviceUnavailable},   // ERROR_INVALID_DRIVE
    {55, kDeviceUnavailable},   // ERROR_DEV_NOT_EXIST
    {59, kDeviceUnavailable},   // ERROR_UNEXP_NET_ERR
    {64, kDeviceUnavailable},   // ERROR_NETNAME_DELETED
    {1112, kDeviceUnavailable}, // ERROR_NO_MEDIA_IN_DRIVE
    {1167, kDeviceUnavailable}, // ERROR_DEVICE_NOT_CONNECTED
    {1005, kDeviceUnavailable}, // ERROR_UNRECOGNIZED_VOLUME: a disk the system cannot read
    {4, kTooManyFiles},         // ERROR_TOO_MANY_OPEN_FILES
    {8, kOutOfMemory},          // ERROR_NOT_ENOUGH_MEMORY
    {14, kOutOfMemory},         // ERROR_OUTOFMEMORY
    {1450, kOutOfMemory},       // ERROR_NO_SYSTEM_RESOURCES
};

FileError make(const ErrorEntry &entry)
{
    return FileError(entry.number, entry.description);
}

} // namespace

FileError::FileError(std::int32_t number, const std::string &description)
    : std::runtime_error(std::to_string(number) + " " + description), m_number(number),
      m_description(description)
{
}

FileError FileError::fromErrno(int systemError)
{
    for (const auto &known : kErrnoTable) {
        if (known.systemError == systemError)
            return make(known.entry);
    }
    return make(kAccessError);
}

FileError FileError::fromWin32(std::uint32_t win32Error)
{
    for (const auto &known : kWin32Table) {
        if (known.win32Error == win32Error)
            return make(known.entry);
    }
    return make(kAccessError);
}

FileError FileError::fileNotFound()
{
    return make(kFileNotFound);
}

FileError FileError::pathNotFound()
{
    return make(kPathNotFound);
}

FileError FileError::accessError()
{
    return make(kAccessError);
}

FileError FileError::fileExists()
{
    return make(kFileExists);
}

FileError FileError::deviceError()
{
    return make(kDeviceIo);
}

FileError FileError::heldByAnotherProgram()
{
    return make(kPermissionDenied);
}

FileError FileError::noPrivateFolder()
{
    return make(kNoPrivateFolder);
}

FileError FileError::deviceUnavailable()
{
    return make(kDeviceUnavailable);
}

FileError FileError::outOfMemory()
{
    return make(kOutOfMemory);
}
