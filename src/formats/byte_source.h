// A file's bytes as the parsers read them: its size, and bytes at an
// offset. The parsers over it are plain C++; a view of the file, a file
// handle or a block in memory stand behind it alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Another source read a page at a time: a walk over many small parts (a
// JPEG's segments, a PNG's chunks) asks for a few bytes at each, and every
// read of a file is a call into the system, so that a file of many empty
// segments would cost a call each. Through a page the calls are one per
// page of the bytes asked for, whatever the parts' count. A read larger
// than a page goes straight to the source.
class PagedSource final : public ByteSource {
public:
    enum : size_t { kPageBytes = 64u << 10 };
    explicit PagedSource(ByteSource& source) : source_(source), size_(source.Size()), page_(kPageBytes) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t at, void* to, size_t count) override;
    // The reads made of the source, and the bytes they asked for.
    uint64_t SourceReads() const { return reads_; }
    uint64_t SourceBytes() const { return bytes_; }

private:
    ByteSource& source_;
    uint64_t size_;
    std::vector<uint8_t> page_;
    uint64_t pageAt_ = 0;
    size_t pageBytes_ = 0;  // 0: no page held
    uint64_t reads_ = 0;
    uint64_t bytes_ = 0;
};
