// Room for encoded bytes that is not filled when made: a page the coder
// never reaches is never touched, and a fresh page costs the system far
// more than the bytes written to it. Growing keeps what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

class Room {
public:
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    // At least `n` bytes, the first `keep` of them kept.
    void resize(size_t n, size_t keep = SIZE_MAX)
    {
        if (n <= size_)
            return;
        std::unique_ptr<uint8_t[]> more(new uint8_t[n]);
        keep = keep < size_ ? keep : size_;
        if (keep != 0)
            memcpy(more.get(), bytes_.get(), keep);
        bytes_ = std::move(more);
        size_ = n;
    }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
};
