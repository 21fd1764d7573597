#include "byteproof.h"

#include "scripttransform.h"

#include <cstring>
#include <vector>

namespace nf = nativefiles;

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

} // namespace

namespace byteproof {

std::string contentsOf(const NativeFile &file)
{
    std::string text(static_cast<std::size_t>(nf::identityOf(file).size), '\0');
    text.resize(nf::readAt(file, 0, reinterpret_cast<unsigned char *>(text.data()), text.size()));
    return text;
}

bool sameBytes(const NativeFile &a, const NativeFile &b)
{
    if (nf::identityOf(a).size != nf::identityOf(b).size)
        return false;
    std::vector<unsigned char> left(kChunk);
    std::vector<unsigned char> right(kChunk);
    for (std::uint64_t at = 0;; at += kChunk) {
        const std::size_t got = nf::readAt(a, at, left.data(), kChunk);
        if (nf::readAt(b, at, right.data(), kChunk) != got ||
            std::memcmp(left.data(), right.data(), got) != 0)
            return false;
        if (got < kChunk)
            return true;
    }
}

bool transformsInto(const Cierres &cierres, const NativeFile &from, const NativeFile &into,
                    std::uint64_t intoSize)
{
    bool same = true;
    std::vector<unsigned char> theirs;
    ScriptTransform transform(cierres, [&](const unsigned char *data, std::size_t size,
                                           std::uint64_t offset, bool) {
        if (!same)
            return;
        theirs.resize(size);
        same = offset + size <= intoSize && nf::readAt(into, offset, theirs.data(), size) == size &&
               std::memcmp(theirs.data(), data, size) == 0;
    });
    std::vector<unsigned char> chunk(kChunk);
    for (std::uint64_t at = 0; same;) {
        const std::size_t got = nf::readAt(from, at, chunk.data(), kChunk);
        transform.feed(chunk.data(), got);
        at += got;
        if (got < kChunk)
            break;
    }
    transform.finish();
    return same && transform.outputSize() == intoSize;
}

} // namespace byteproof
