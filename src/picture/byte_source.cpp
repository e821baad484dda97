#include "picture/byte_source.h"

#include <cstring>

bool MemorySource::Read(uint64_t at, void* to, size_t count)
{
    if (at > size_ || count > size_ - at)
        return false;
    if (count != 0)
        memcpy(to, bytes_ + at, count);
    return true;
}
