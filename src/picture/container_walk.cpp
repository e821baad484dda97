// The container walks (see container_walk.h).
#include "picture/container_walk.h"

#include <cstring>

#include "picture/bytes.h"

namespace {

// Segments or chunks walked at most: a real file has tens, a hostile one
// could have millions of empty ones, each a read.
enum : uint32_t { kMostParts = 1u << 20 };

// The offset of the first byte at or after `at` that is (`wanted`) or is
// not 0xFF, read a page at a time; the file's size when there is none or
// a read fails.
uint64_t FindFill(ByteSource& file, uint64_t size, uint64_t at, bool wanted)
{
    // The byte sought is nearly always the first: the reads start small.
    uint8_t page[4096];
    for (size_t most = 16; at < size; most = most < sizeof page ? 2 * most : most) {
        const size_t count = size - at < most ? static_cast<size_t>(size - at) : most;
        if (!file.Read(at, page, count))
            return size;
        for (size_t i = 0; i < count; ++i)
            if ((page[i] == 0xFF) == wanted)
                return at + i;
        at += count;
    }
    return size;
}

}  // namespace

bool JpegSegmentWalk::Next(JpegSegment& segment)
{
    while (end_ == JpegWalkEnd::none) {
        if (++parts_ > kMostParts) {
            end_ = JpegWalkEnd::tooMany;
            break;
        }
        // The next 0xFF, then past every fill byte to the marker's code.
        const uint64_t fill = FindFill(file_, size_, at_, true);
        at_ = FindFill(file_, size_, fill, false);
        uint8_t marker = 0;
        if (fill == size_ || at_ == size_ || !file_.Read(at_, &marker, 1)) {
            end_ = JpegWalkEnd::endsEarly;
            break;
        }
        ++at_;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // a stuffed zero (data, not a marker), or TEM and RST0-7, which stand alone
        if (marker == 0xD8 || marker == 0xD9) {
            end_ = marker == 0xD8 ? JpegWalkEnd::secondStart : JpegWalkEnd::endOfImage;
            break;
        }
        uint8_t field[2];
        if (size_ - at_ < 2 || !file_.Read(at_, field, 2)) {
            end_ = JpegWalkEnd::pastEnd;
            break;
        }
        const uint32_t length = ReadBig16(field);
        if (length < 2) {
            end_ = JpegWalkEnd::shortSegment;
            break;
        }
        if (length > size_ - at_) {
            end_ = JpegWalkEnd::pastEnd;
            break;
        }
        segment.marker = marker;
        segment.bodyAt = at_ + 2;
        segment.bodySize = length - 2;
        at_ += length;
        if (marker == 0xDA)
            end_ = JpegWalkEnd::scan;
        return true;
    }
    return false;
}

bool PngChunkWalk::Next(PngChunkHead& chunk)
{
    // Each chunk is its length, its type, the body and a CRC of 4 bytes.
    uint8_t head[8];
    if (ended_ || ++parts_ > kMostParts || at_ >= size_ || size_ - at_ < 12 || !file_.Read(at_, head, 8)) {
        cut_ = cut_ || (!ended_ && at_ < size_);
        ended_ = true;
        return false;
    }
    memcpy(chunk.type, head + 4, 4);
    chunk.at = at_;
    chunk.length = ReadBig32(head);
    chunk.whole = chunk.length <= size_ - at_ - 12;
    cut_ = !chunk.whole;
    ended_ = !chunk.whole || IsChunk(chunk, "IEND");
    at_ += 12 + static_cast<uint64_t>(chunk.length);
    return true;
}

bool IsChunk(const PngChunkHead& chunk, const char* type) { return memcmp(chunk.type, type, 4) == 0; }

RiffChunkWalk::RiffChunkWalk(ByteSource& file) : file_(file), size_(file.Size())
{
    uint8_t head[8];
    if (size_ >= 12 && file_.Read(0, head, 8))
        declaredEnd_ = 8 + static_cast<uint64_t>(Read32(head + 4));
    end_ = declaredEnd_ < size_ ? declaredEnd_ : size_;
}

bool RiffChunkWalk::Next(RiffChunkHead& chunk)
{
    // Each chunk is its type, its size and the body, padded to an even length.
    uint8_t head[8];
    if (ended_ || ++parts_ > kMostParts || at_ >= end_ || end_ - at_ < 8 || !file_.Read(at_, head, 8)) {
        ended_ = true;
        return false;
    }
    memcpy(chunk.type, head, 4);
    chunk.at = at_;
    chunk.size = Read32(head + 4);
    chunk.whole = chunk.size <= end_ - at_ - 8;
    ended_ = !chunk.whole;
    at_ += 8 + static_cast<uint64_t>(chunk.size) + (chunk.size & 1);
    return true;
}

bool IsoBoxWalk::Next(IsoBoxHead& box)
{
    uint8_t head[16];
    if (ended_ || at_ >= end_)
        return false;
    if (++parts_ > kMostParts || end_ - at_ < 8 || !file_.Read(at_, head, 8)) {
        ended_ = cut_ = true;
        return false;
    }
    memcpy(box.type, head + 4, 4);
    box.at = at_;
    uint64_t size = ReadBig32(head);
    uint64_t headSize = 8;
    if (size == 1) {
        headSize = 16;
        if (end_ - at_ < 16 || !file_.Read(at_ + 8, head + 8, 8)) {
            ended_ = cut_ = true;
            return false;
        }
        size = static_cast<uint64_t>(ReadBig32(head + 8)) << 32 | ReadBig32(head + 12);
    } else if (size == 0) {
        size = end_ - at_;
    }
    box.bodyAt = at_ + headSize;
    box.bodySize = size >= headSize ? size - headSize : 0;
    box.whole = size >= headSize && size <= end_ - at_;
    ended_ = cut_ = !box.whole;
    at_ += size;
    return true;
}

bool TiffOrder(const uint8_t head[4], bool& little)
{
    if (memcmp(head, "II*\0", 4) != 0 && memcmp(head, "MM\0*", 4) != 0)
        return false;
    little = head[0] == 'I';
    return true;
}
