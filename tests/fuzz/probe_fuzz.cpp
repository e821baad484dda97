// Fuzzes the container probe over whole files: it must stay inside the bytes
// it is given, and what it says must hold together. The file is probed
// twice: whole, and through a source whose reads fail from a point the
// input's last byte picks, as a file cut short under the probe; that probe
// ends unreadable or says what the whole file says.
#include <cstdlib>
#include <cstring>

#include "formats/probe.h"

// Reads past `cut` fail; reads outside the size the probe was told abort.
struct CutSource final : ByteSource {
    const uint8_t* bytes;
    size_t size, cut;
    CutSource(const uint8_t* b, size_t n, size_t c) : bytes(b), size(n), cut(c) {}
    uint64_t Size() const override { return size; }
    bool Read(uint64_t at, void* to, size_t count) override
    {
        if (at > size || count > size - at)
            abort();
        memcpy(to, bytes + at, count);
        return at + count <= cut;
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ProbeResult result = ProbeContainer(data, size);
    if (result.orientation < 1 || result.orientation > 8)
        abort();
    if (result.verdict == ProbeVerdict::fine && (result.width < 1 || result.height < 1))
        abort();
    if (result.clause == ProbeClause::tooShortForPicture &&
        (result.verdict != ProbeVerdict::damaged || result.width < 1))
        abort();
    if ((result.kind == ContainerKind::unknown) != (result.verdict == ProbeVerdict::unknown))
        abort();
    if (result.verdict == ProbeVerdict::unreadable)
        abort();
    if (result.kind == ContainerKind::jpeg && result.orientation != JpegExifOrientation(data, size))
        abort();

    const size_t cut = size == 0 ? 0 : size * data[size - 1] / 256;
    CutSource source(data, size, cut);
    const ProbeResult cutShort = ProbeContainer(source);
    if (cutShort.verdict != ProbeVerdict::unreadable &&
        (cutShort.verdict != result.verdict || cutShort.width != result.width || cutShort.height != result.height))
        abort();
    return 0;
}
