// The container walks (see container_walk.h).
#include "formats/container_walk.h"

#include <cstring>

#include "formats/bytes.h"

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

uint64_t BoxFields::Take(size_t bytes)
{
    uint8_t p[8];
    if (bytes == 0)
        return 0;
    if (failed_ || bytes > sizeof p || end_ - at_ < bytes || !file_.Read(at_, p, bytes)) {
        failed_ = true;
        return 0;
    }
    at_ += bytes;
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value;
}

std::string BoxFields::TakeText(size_t most)
{
    std::string text;
    for (uint64_t c = Take(1); !failed_ && c != 0; c = Take(1)) {
        if (text.size() < most)
            text += static_cast<char>(c);
    }
    return text;
}

namespace {

// iinf: version, flags, an entry count, then infe boxes; an infe of version
// 2 or 3 names its item's type after its ID (16 or 32 bits) and protection.
void ReadItemTypes(ByteSource& file, const IsoBoxHead& box, HeifMeta& read)
{
    BoxFields f(file, box);
    const uint64_t version = f.Take(1);
    f.Take(3);
    f.Take(version == 0 ? 2 : 4);
    IsoBoxWalk entries(file, f.At(), box.bodyAt + box.bodySize);
    IsoBoxHead entry;
    while (!f.Failed() && entries.Next(entry)) {
        if (!entry.whole) {
            read.damage = HeifDamage::boxPastEnd;
            return;
        }
        if (!IsBox(entry, "infe"))
            continue;
        BoxFields e(file, entry);
        const uint64_t entryVersion = e.Take(1);
        e.Take(3);
        if (entryVersion < 2)
            continue;
        const uint64_t item = e.Take(entryVersion == 2 ? 2 : 4);
        e.Take(2);
        const uint64_t type = e.Take(4);
        if (e.Failed()) {
            read.damage = HeifDamage::fieldsPastEnd;
            return;
        }
        if (item == read.primary)
            for (int i = 0; i < 4; ++i)
                read.primaryType[i] = static_cast<uint8_t>(type >> (24 - 8 * i));
        if (type == 0x45786966 && read.exifItem == 0)  // "Exif"
            read.exifItem = static_cast<uint32_t>(item);
        // "mime": the item's name, then its content type.
        if (type == 0x6D696D65 && read.xmpItem == 0) {
            e.TakeText(0);
            if (e.TakeText(32) == "application/rdf+xml" && !e.Failed())
                read.xmpItem = static_cast<uint32_t>(item);
        }
    }
    if (f.Failed())
        read.damage = HeifDamage::fieldsPastEnd;
}

// ipma: for each item its ID (16 or 32 bits by version), a count and the
// 1-based indices of its properties in ipco (7 bits, or 15 when flag 1 is
// set), each with an essential bit above.
void ReadPropertyLinks(ByteSource& file, const IsoBoxHead& box, HeifMeta& read)
{
    BoxFields f(file, box);
    const uint64_t version = f.Take(1);
    const uint64_t flags = f.Take(3);
    const uint64_t entries = f.Take(4);
    for (uint64_t i = 0; i < entries && !f.Failed(); ++i) {
        const uint64_t item = f.Take(version < 1 ? 2 : 4);
        const uint64_t count = f.Take(1);
        for (uint64_t a = 0; a < count && !f.Failed(); ++a) {
            const uint64_t index = (flags & 1) != 0 ? (f.Take(2) & 0x7FFF) : (f.Take(1) & 0x7F);
            if (item == read.primary)
                read.primaryProperties.set(index);
        }
    }
    if (f.Failed())
        read.damage = HeifDamage::fieldsPastEnd;
}

}  // namespace

void ReadHeifMeta(ByteSource& file, const IsoBoxHead& meta, HeifMeta& read)
{
    // Version and flags, then the boxes; pitm comes before what it names
    // is looked for, wherever it stands.
    IsoBoxHead iinf, iprp, box;
    bool hasIprp = false;
    IsoBoxWalk children(file, meta.bodyAt + 4, meta.bodyAt + meta.bodySize);
    if (meta.bodySize < 4)
        read.damage = HeifDamage::fieldsPastEnd;
    while (read.damage == HeifDamage::none && children.Next(box)) {
        if (!box.whole) {
            read.damage = HeifDamage::boxPastEnd;
        } else if (IsBox(box, "pitm")) {
            // Version, flags, then the item's ID in 16 bits (version 0) or 32.
            BoxFields f(file, box);
            const uint64_t version = f.Take(1);
            f.Take(3);
            read.primary = static_cast<uint32_t>(f.Take(version == 0 ? 2 : 4));
            if (f.Failed())
                read.damage = HeifDamage::fieldsPastEnd;
        } else if (IsBox(box, "iinf") && !read.hasIinf) {
            iinf = box, read.hasIinf = true;
        } else if (IsBox(box, "iloc") && !read.hasIloc) {
            read.iloc = box, read.hasIloc = true;
        } else if (IsBox(box, "iprp") && !hasIprp) {
            iprp = box, hasIprp = true;
        }
    }
    if (read.damage == HeifDamage::none && read.hasIinf)
        ReadItemTypes(file, iinf, read);
    // iprp: the property container, then the links of items to its properties.
    IsoBoxWalk properties(file, iprp.bodyAt, hasIprp ? iprp.bodyAt + iprp.bodySize : iprp.bodyAt);
    while (read.damage == HeifDamage::none && properties.Next(box)) {
        if (!box.whole)
            read.damage = HeifDamage::boxPastEnd;
        else if (IsBox(box, "ipco") && !read.hasIpco)
            read.ipco = box, read.hasIpco = true;
        else if (IsBox(box, "ipma"))
            ReadPropertyLinks(file, box, read);
    }
}

// iloc: version, flags, then the sizes of offsets and lengths, of base
// offsets and (versions 1 and 2) of extent indices, 4 bits each; an item
// count, and for each item its ID, its construction method (versions 1
// and 2), its data reference, its base offset and its extents.
HeifExtentWalk::HeifExtentWalk(ByteSource& file, const IsoBoxHead& iloc) : fields_(file, iloc)
{
    version_ = fields_.Take(1);
    fields_.Take(3);
    const uint64_t sizes = fields_.Take(2);
    offsetSize_ = sizes >> 12 & 15, lengthSize_ = sizes >> 8 & 15, baseSize_ = sizes >> 4 & 15;
    indexSize_ = version_ == 1 || version_ == 2 ? (sizes & 15) : 0;
    for (size_t size : {offsetSize_, lengthSize_, baseSize_, indexSize_}) {
        if (size != 0 && size != 4 && size != 8)
            damage_ = HeifDamage::locationFieldSize;
    }
    if (version_ > 2)
        damage_ = HeifDamage::locationVersion;
    itemsLeft_ = fields_.Take(version_ < 2 ? 2 : 4);
}

bool HeifExtentWalk::Next(HeifExtent& extent)
{
    while (damage_ == HeifDamage::none && extentsLeft_ == 0 && itemsLeft_ > 0) {
        --itemsLeft_;
        item_.item = static_cast<uint32_t>(fields_.Take(version_ < 2 ? 2 : 4));
        const uint64_t method = version_ == 0 ? 0 : (fields_.Take(2) & 15);
        const uint64_t reference = fields_.Take(2);
        item_.inFile = method == 0 && reference == 0;
        item_.at = fields_.Take(baseSize_);
        extentsLeft_ = fields_.Take(2);
        if (fields_.Failed())
            damage_ = HeifDamage::fieldsPastEnd;
    }
    if (damage_ != HeifDamage::none || extentsLeft_ == 0)
        return false;
    --extentsLeft_;
    fields_.Take(indexSize_);
    const uint64_t offset = fields_.Take(offsetSize_);
    extent = item_;
    extent.length = fields_.Take(lengthSize_);
    extent.overflows = __builtin_add_overflow(item_.at, offset, &extent.at) ||
                       extent.at + extent.length < extent.at;
    if (fields_.Failed()) {
        damage_ = HeifDamage::fieldsPastEnd;
        return false;
    }
    return true;
}

bool TiffWalk::Open()
{
    uint8_t head[8];
    if (!bytes_.Read(0, head, sizeof head) || (memcmp(head, "II*\0", 4) != 0 && memcmp(head, "MM\0*", 4) != 0))
        return false;
    little_ = head[0] == 'I';
    return true;
}

uint32_t TiffWalk::Number(const uint8_t* b, size_t width) const
{
    if (width == 2)
        return little_ ? Read16(b) : ReadBig16(b);
    return little_ ? Read32(b) : ReadBig32(b);
}

uint32_t TiffWalk::U16(uint64_t at)
{
    uint8_t b[2];
    return bytes_.Read(at, b, sizeof b) ? Number(b, 2) : 0;
}

uint32_t TiffWalk::U32(uint64_t at)
{
    uint8_t b[4];
    return bytes_.Read(at, b, sizeof b) ? Number(b, 4) : 0;
}

bool TiffWalk::Directory(uint64_t at, uint32_t& entries)
{
    uint8_t count[2];
    if (at > size_ || size_ - at < 2 || !bytes_.Read(at, count, sizeof count))
        return false;
    entries = Number(count, 2);
    return (size_ - at - 2) / 12 >= entries;
}

bool TiffWalk::EntryAt(uint64_t at, TiffEntry& entry)
{
    // BYTE, ASCII, SHORT, LONG, RATIONAL, SBYTE, UNDEFINED, SSHORT, SLONG,
    // SRATIONAL, FLOAT, DOUBLE, IFD.
    static const uint8_t kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    uint8_t b[12];
    entry.at = at;
    if (!bytes_.Read(entry.at, b, sizeof b))
        return false;
    entry.tag = Number(b, 2);
    entry.type = Number(b + 2, 2);
    entry.count = Number(b + 4, 4);
    entry.valueBytes = entry.type < 14 ? kSizes[entry.type] * uint64_t{entry.count} : 0;
    entry.valuesAt = entry.valueBytes <= 4 ? entry.at + 8 : Number(b + 8, 4);
    return true;
}

bool TiffWalk::FirstNumber(const TiffEntry& entry, uint32_t& value)
{
    if ((entry.type != 3 && entry.type != 4) || entry.count == 0)
        return true;
    const size_t width = entry.type == 3 ? 2 : 4;
    uint8_t b[4];
    if (!bytes_.Read(entry.valuesAt, b, width))
        return false;
    value = Number(b, width);
    return true;
}
