// A file's bytes as the parsers read them: its size, and bytes at an
// offset. The parsers over it are plain C++; a view of the file, a file
// handle or a block in memory stand behind it alike.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
public:
    virtual uint64_t Size() const = 0;
    // Copies count bytes at `at` to `to`; false when they are not all there:
    // past the end, or the file shrank or its disk went away while it was read.
    virtual bool Read(uint64_t at, void* to, size_t count) = 0;

protected:
    ~ByteSource() = default;
};

// A file held in memory whole.
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t at, void* to, size_t count) override;

private:
    const uint8_t* bytes_;
    size_t size_;
};
