// The one walk of each chunked container, over a ByteSource, for every
// reader of it (the probe, the metadata reader): JPEG segments up to the
// scan, PNG chunks up to IEND, a WebP's RIFF chunks, a HEIF's boxes and a
// TIFF's directories. Each length is compared with what remains
// of the file before it is followed, and only heads are read here; bodies
// are the caller's to read, at the offsets given.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/byte_source.h"
#include "formats/bytes.h"

// Why a JPEG's walk ended.
enum class JpegWalkEnd : uint8_t {
    none,          // still walking
    scan,          // the last segment given was SOS, whole
    endOfImage,    // EOI before any scan
    secondStart,   // a second SOI
    endsEarly,     // the file (or what may be read of it) ends before a marker
    shortSegment,  // a length field under 2
    pastEnd,       // a segment runs past the end of the file
    tooMany,       // more segments than any real file has
};

struct JpegSegment {
    uint8_t marker = 0;
    uint64_t bodyAt = 0;  // after the 2-byte length field
    size_t bodySize = 0;
};

// The segments after SOI. Stray bytes between segments are stepped over,
// as decoders do, and so are any number of 0xFF fill bytes before a
// marker's code, stuffed zeros, and the markers that stand alone (TEM,
// RST0 to RST7).
class JpegSegmentWalk {
public:
    explicit JpegSegmentWalk(ByteSource& file) : file_(file), size_(file.Size()) {}
    // The next segment with a length, SOS included; false once the walk has
    // ended, End() saying why.
    bool Next(JpegSegment& segment);
    JpegWalkEnd End() const { return end_; }

private:
    ByteSource& file_;
    uint64_t size_;
    uint64_t at_ = 2;
    uint32_t parts_ = 0;
    JpegWalkEnd end_ = JpegWalkEnd::none;
};

struct PngChunkHead {
    char type[4] = {};
    uint64_t at = 0;      // of its length field
    uint32_t length = 0;  // of its body
    bool whole = false;   // its body and CRC lie inside the file
};

// The chunks after the signature, IEND included. A chunk that runs past
// the end of the file is given once, not whole, and ends the walk.
class PngChunkWalk {
public:
    explicit PngChunkWalk(ByteSource& file) : file_(file), size_(file.Size()) {}
    bool Next(PngChunkHead& chunk);
    // The walk ended short of IEND with bytes left that hold no whole chunk
    // head, or on a chunk past the end, or a read failed.
    bool Cut() const { return cut_; }

private:
    ByteSource& file_;
    uint64_t size_;
    uint64_t at_ = 8;
    uint32_t parts_ = 0;
    bool ended_ = false;
    bool cut_ = false;
};

// Whether a PNG chunk head is of `type`.
bool IsChunk(const PngChunkHead& chunk, const char* type);

struct RiffChunkHead {
    char type[4] = {};
    uint64_t at = 0;      // of its type
    uint32_t size = 0;    // of its body, the pad byte of an odd size not counted
    bool whole = false;   // its body lies inside the file and the RIFF container
};

// The chunks of a RIFF container after its 12-byte head ("RIFF", the size
// of what follows, the form's four letters), to the end of the container or
// of the file, whichever comes first. A chunk that runs past that end is
// given once, not whole, and ends the walk.
class RiffChunkWalk {
public:
    explicit RiffChunkWalk(ByteSource& file);
    bool Next(RiffChunkHead& chunk);
    // The container declares more bytes than the file holds.
    bool FileShorterThanDeclared() const { return declaredEnd_ > size_; }

private:
    ByteSource& file_;
    uint64_t size_;
    uint64_t declaredEnd_ = 0;
    uint64_t end_ = 0;
    uint64_t at_ = 12;
    uint32_t parts_ = 0;
    bool ended_ = false;
};

inline bool IsChunk(const RiffChunkHead& chunk, const char* type) { return memcmp(chunk.type, type, 4) == 0; }

struct IsoBoxHead {
    char type[4] = {};
    uint64_t at = 0;      // of its size field
    uint64_t bodyAt = 0;  // past its size, type and any 64-bit size
    uint64_t bodySize = 0;
    bool whole = false;   // its body lies inside the range walked
};

// The boxes of an ISO base media file (HEIF, AVIF) in [begin, end): the
// file's top level, or one box's body. A box is its 32-bit size, its type,
// a 64-bit size when the first is 1, and its body; a size of 0 runs to the
// end. A box that runs past the end, or whose size is shorter than its own
// head, is given once, not whole, and ends the walk.
class IsoBoxWalk {
public:
    IsoBoxWalk(ByteSource& file, uint64_t begin, uint64_t end) : file_(file), end_(end), at_(begin) {}
    bool Next(IsoBoxHead& box);
    // The walk ended on a box that is not whole, or on bytes that hold no
    // whole box head.
    bool Cut() const { return cut_; }

private:
    ByteSource& file_;
    uint64_t end_;
    uint64_t at_;
    uint32_t parts_ = 0;
    bool ended_ = false;
    bool cut_ = false;
};

inline bool IsBox(const IsoBoxHead& box, const char* type) { return memcmp(box.type, type, 4) == 0; }

// Big-endian fields of one box's body, read in turn; once one would pass
// the body's end or a read fails, every read after gives 0 and Failed()
// says so.
class BoxFields {
public:
    BoxFields(ByteSource& file, const IsoBoxHead& box) : file_(file), at_(box.bodyAt), end_(box.bodyAt + box.bodySize) {}
    uint64_t At() const { return at_; }
    bool Failed() const { return failed_; }
    // An unsigned field of `bytes` bytes, 0 to 8.
    uint64_t Take(size_t bytes);
    // A text that ends in a zero byte, without it; at most `most` bytes of it
    // are kept, the rest passed over.
    std::string TakeText(size_t most);

private:
    ByteSource& file_;
    uint64_t at_;
    uint64_t end_;
    bool failed_ = false;
};

// Why a HEIF's boxes cannot be read.
enum class HeifDamage : uint8_t {
    none,
    boxPastEnd,         // a box runs past the end of the file
    fieldsPastEnd,      // a box's fields run past its end
    locationFieldSize,  // iloc's offsets, lengths or indices of a size HEIF does not define
    locationVersion,
};

// A HEIF's meta box, as its readers (the probe, the metadata walk) need
// it: the primary picture's item, its type and properties, the first EXIF
// and XMP items, and where the item locations and the properties stand.
struct HeifMeta {
    HeifDamage damage = HeifDamage::none;  // when not none, nothing else holds
    uint32_t primary = 0;          // pitm's item; 0: none is named
    uint8_t primaryType[4] = {};   // its type, when an infe names it
    uint32_t exifItem = 0;         // the first item of type Exif; 0: none
    uint32_t xmpItem = 0;          // the first item of type mime with XMP's content type; 0: none
    IsoBoxHead iloc, ipco;
    bool hasIinf = false, hasIloc = false, hasIpco = false;
    std::bitset<32768> primaryProperties;  // by their index in ipco, from 1
};

// Reads the boxes of a meta box: pitm, iinf's infe entries, iloc, and
// iprp's ipco and ipma. A box inside that is not whole is damage.
void ReadHeifMeta(ByteSource& file, const IsoBoxHead& meta, HeifMeta& read);

struct HeifExtent {
    uint32_t item = 0;
    // Construction method 0 with no data reference: `at` is an offset in
    // this file. Otherwise the data lies in the meta box or another file.
    bool inFile = false;
    uint64_t at = 0;
    uint64_t length = 0;  // 0: to the end of the file
    bool overflows = false;  // at + length passes 2^64
};

// The extents of a HEIF's item locations (iloc), item by item.
class HeifExtentWalk {
public:
    HeifExtentWalk(ByteSource& file, const IsoBoxHead& iloc);
    bool Next(HeifExtent& extent);
    // Why the walk ended early: fields of a size or version HEIF does not
    // define, or that run past the box; none otherwise.
    HeifDamage Damage() const { return damage_; }

private:
    BoxFields fields_;
    HeifDamage damage_ = HeifDamage::none;
    uint64_t version_ = 0, itemsLeft_ = 0, extentsLeft_ = 0;
    size_t offsetSize_ = 0, lengthSize_ = 0, baseSize_ = 0, indexSize_ = 0;
    HeifExtent item_;  // the item being walked: its ID, where its data lies, its base
};

// One entry of a TIFF directory: its tag, type and count, and where its
// values stand: in the entry's last 4 bytes when they fit there, else at
// the offset those hold.
struct TiffEntry {
    uint64_t at = 0;  // the entry's own offset
    uint32_t tag = 0, type = 0, count = 0;
    uint64_t valuesAt = 0;
    uint64_t valueBytes = 0;  // 0 for a type TIFF does not define
};

// The turn an Orientation entry (274) asks for, in a TIFF file and an EXIF
// block alike, from its type, count and first value: that value when the
// entry is SHORT and it is 1 to 8; else 1.
inline int TiffOrientation(uint32_t type, uint32_t count, uint32_t first)
{
    return type == 3 && count > 0 && first >= 1 && first <= 8 ? static_cast<int>(first) : 1;
}

// The one walk of a TIFF's directories, for a TIFF file and an EXIF block
// (a MemorySource) alike: the byte order of its header ("II*\0"
// little-endian, "MM\0*" big-endian), then directories of a 2-byte count,
// 12-byte entries and a 4-byte link to the next. Offsets are the source's.
class TiffWalk {
public:
    explicit TiffWalk(ByteSource& bytes) : bytes_(bytes), size_(bytes.Size()) {}
    // Takes the byte order from the 8-byte header; false when there is none.
    bool Open();
    uint64_t Size() const { return size_; }
    bool Little() const { return little_; }
    // The number at `at` in the file's order; 0 when it cannot be read.
    uint32_t U16(uint64_t at);
    uint32_t U32(uint64_t at);
    // The entry count of the directory at `at`, when the count and its
    // entries lie inside the bytes.
    bool Directory(uint64_t at, uint32_t& entries);
    // The entry at `at`; false when it cannot be read.
    bool EntryAt(uint64_t at, TiffEntry& entry);
    // Entry i of the directory at `directory`.
    bool Entry(uint64_t directory, uint32_t i, TiffEntry& entry)
    {
        return EntryAt(directory + 2 + 12 * uint64_t{i}, entry);
    }
    // Whether all of an entry's values lie inside the bytes.
    bool ValuesInside(const TiffEntry& entry) const
    {
        return entry.valueBytes <= 4 || (entry.valuesAt <= size_ && entry.valueBytes <= size_ - entry.valuesAt);
    }
    // Where the link after a directory's entries stands, when it is inside.
    bool LinkAt(uint64_t directory, uint32_t entries, uint64_t& at) const
    {
        at = directory + 2 + 12 * uint64_t{entries};
        return at <= size_ && size_ - at >= 4;
    }
    // The first value of a SHORT or LONG entry, read where it stands (the
    // others need not be inside); false when it cannot be read. Other types
    // and empty entries leave `value` as it was.
    bool FirstNumber(const TiffEntry& entry, uint32_t& value);

private:
    // A 2- or 4-byte number at b in the file's order.
    uint32_t Number(const uint8_t* b, size_t width) const;

    ByteSource& bytes_;
    uint64_t size_;
    bool little_ = true;
};
