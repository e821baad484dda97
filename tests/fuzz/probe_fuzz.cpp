// Fuzzes the container probe over whole files: it must stay inside the bytes
// it is given, and what it says must hold together.
#include <cstdlib>

#include "image/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ProbeResult result = ProbeContainer(data, size);
    if (result.orientation < 1 || result.orientation > 8)
        abort();
    if (result.verdict == ProbeVerdict::fine && (result.width < 1 || result.height < 1))
        abort();
    if ((result.kind == ContainerKind::unknown) != (result.verdict == ProbeVerdict::unknown))
        abort();
    if (result.kind == ContainerKind::jpeg && result.orientation != JpegExifOrientation(data, size))
        abort();
    return 0;
}
