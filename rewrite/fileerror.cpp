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
