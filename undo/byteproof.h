#pragma once

#include "cierres.h"
#include "nativefiles.h"

#include <cstdint>
#include <string>

// What a file's bytes prove where identities are not enough: after a run that did not live to
// write its outputs' identities, a script is the run's output only if it is, byte for byte,
// what the run makes of the kept original. Throws FileError.
namespace byteproof {

// The whole of a small file.
std::string contentsOf(const NativeFile &file);
// Whether two files hold the same bytes.
bool sameBytes(const NativeFile &a, const NativeFile &b);
// Whether `into`, `intoSize` bytes long, holds exactly what the transform with `cierres` makes
// of `from`.
bool transformsInto(const Cierres &cierres, const NativeFile &from, const NativeFile &into,
                    std::uint64_t intoSize);

} // namespace byteproof
