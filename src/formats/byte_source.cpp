#include "formats/byte_source.h"

#include <cstring>

bool MemorySource::Read(uint64_t at, void* to, size_t count)
{
    if (at > size_ || count > size_ - at)
        return false;
    if (count != 0)
        memcpy(to, bytes_ + at, count);
    return true;
}

bool PagedSource::Read(uint64_t at, void* to, size_t count)
{
    if (at > size_ || count > size_ - at)
        return false;
    if (count > kPageBytes) {
        ++reads_;
        bytes_ += count;
        return source_.Read(at, to, count);
    }
    if (pageBytes_ == 0 || at < pageAt_ || at + count > pageAt_ + pageBytes_) {
        const uint64_t left = size_ - at;
        pageAt_ = at;
        pageBytes_ = static_cast<size_t>(left < kPageBytes ? left : kPageBytes);
        ++reads_;
        bytes_ += pageBytes_;
        if (!source_.Read(pageAt_, page_.data(), pageBytes_)) {
            pageBytes_ = 0;
            return false;
        }
    }
    if (count != 0)
        memcpy(to, page_.data() + (at - pageAt_), count);
    return true;
}
