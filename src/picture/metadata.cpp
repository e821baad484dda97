// The metadata walk: a JPEG's segments up to its scan, or a PNG's chunks to
// its end, by the container walks every reader shares (container_walk.h);
// then the EXIF block's directories, each offset compared with the
// block's size before it is followed.
#include "picture/metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "picture/bytes.h"
#include "picture/container_walk.h"

namespace {

// The most a JPEG segment's body holds: its length field counts itself.
enum : size_t { kMostSegmentBody = 65533 };

const char kExifPrefix[] = "Exif\0\0";                          // 6 bytes
const char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";       // 29 bytes with its zero
const char kIccPrefix[] = "ICC_PROFILE";                        // 12 bytes with its zero, then number and count
const char kXmpKeyword[] = "XML:com.adobe.xmp";
const char kDefaultIccName[] = "ICC profile";


bool Begins(const std::vector<uint8_t>& b, const char* prefix, size_t length)
{
    return b.size() >= length && memcmp(b.data(), prefix, length) == 0;
}

// Reads `count` bytes at `at` into `out`.
bool ReadBody(ByteSource& file, uint64_t at, size_t count, std::vector<uint8_t>& out)
{
    out.resize(count);
    if (!file.Read(at, out.data(), count)) {
        out.clear();
        return false;
    }
    return true;
}

// Counts a part's bytes against the most one picture's metadata may take;
// false, with a note, once they pass it: what is past it is not walked.
bool Walked(uint64_t bytes, uint64_t& walked, PictureMetadata& metadata)
{
    walked += bytes;
    if (walked <= kMostMetadataBytes)
        return true;
    metadata.notes.push_back("its metadata past " + std::to_string(kMostMetadataBytes >> 20) + " MiB is left out");
    return false;
}

// A zlib stream's bytes, when it ends within `most` bytes.
bool Inflate(const uint8_t* in, size_t size, size_t most, std::vector<uint8_t>& out)
{
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(size);
    out.clear();
    int status = Z_OK;
    while (status == Z_OK && out.size() < most) {
        const size_t done = out.size();
        out.resize(std::min(most, done + (64u << 10)));
        z.next_out = out.data() + done;
        z.avail_out = static_cast<uInt>(out.size() - done);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
    }
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& in)
{
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// ---- JPEG -----------------------------------------------------------------

struct IccPiece {
    uint8_t number, count;
    std::vector<uint8_t> data;
};

// The profile from its APP2 chunks: numbered 1 to count, each once, in any
// order. Anything else is no profile.
std::vector<uint8_t> JoinIccPieces(std::vector<IccPiece>& pieces)
{
    if (pieces.empty())
        return {};
    const size_t count = pieces[0].count;
    if (count != pieces.size())
        return {};
    std::sort(pieces.begin(), pieces.end(), [](const IccPiece& a, const IccPiece& b) { return a.number < b.number; });
    std::vector<uint8_t> icc;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].count != count || pieces[i].number != i + 1)
            return {};
        icc.insert(icc.end(), pieces[i].data.begin(), pieces[i].data.end());
    }
    return icc;
}

void WalkJpeg(ByteSource& file, PictureMetadata& metadata)
{
    uint64_t walked = 0;
    std::vector<IccPiece> pieces;
    bool exifSeen = false;
    JpegSegmentWalk walk(file);
    JpegSegment segment;
    while (walk.Next(segment) && segment.marker != 0xDA && Walked(segment.bodySize + 4, walked, metadata)) {
        std::vector<uint8_t> body;
        const bool app1 = segment.marker == 0xE1, app2 = segment.marker == 0xE2;
        if ((app1 || app2) && !ReadBody(file, segment.bodyAt, segment.bodySize, body))
            break;
        if (app1 && !exifSeen && Begins(body, kExifPrefix, 6)) {
            exifSeen = true;
            metadata.exif.assign(body.begin() + 6, body.end());
        } else if (app1 && metadata.xmp.empty() && Begins(body, kXmpPrefix, sizeof kXmpPrefix)) {
            metadata.xmp.assign(body.begin() + sizeof kXmpPrefix, body.end());
        } else if (app2 && body.size() > sizeof kIccPrefix + 2 && Begins(body, kIccPrefix, sizeof kIccPrefix)) {
            const uint8_t* counts = body.data() + sizeof kIccPrefix;
            const uint8_t* end = body.data() + body.size();
            pieces.push_back({counts[0], counts[1], std::vector<uint8_t>(counts + 2, end)});
        }
    }
    metadata.icc = JoinIccPieces(pieces);
}

// ---- PNG ------------------------------------------------------------------

bool Is(const uint8_t* type, const char* name) { return memcmp(type, name, 4) == 0; }

// A zero-terminated keyword or name of 1 to 79 bytes at the start of
// `body`; its length, or 0.
size_t KeywordLength(const std::vector<uint8_t>& body)
{
    const size_t most = std::min<size_t>(body.size(), 80);
    const void* end = most != 0 ? memchr(body.data(), 0, most) : nullptr;
    return end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - body.data()) : 0;
}

// iCCP: name, 0, compression method 0, the zlib-compressed profile.
void TakeIccChunk(const std::vector<uint8_t>& body, PictureMetadata& metadata)
{
    const size_t name = KeywordLength(body);
    if (name == 0 || body.size() < name + 2 || body[name + 1] != 0)
        return;
    if (Inflate(body.data() + name + 2, body.size() - name - 2, kMostMetadataBytes, metadata.icc))
        metadata.iccName.assign(body.begin(), body.begin() + name);
    else
        metadata.icc.clear();
}

// iTXt: keyword, 0, compression flag and method, language, 0, translated
// keyword, 0, text. True when it is XMP and now in `metadata.xmp`.
bool TakeXmpChunk(const std::vector<uint8_t>& body, PictureMetadata& metadata)
{
    const size_t keyword = KeywordLength(body);
    if (keyword != sizeof kXmpKeyword - 1 || memcmp(body.data(), kXmpKeyword, keyword) != 0)
        return false;
    size_t at = keyword + 1;
    if (body.size() - at < 2)
        return false;
    const bool compressed = body[at] != 0;
    const uint8_t method = body[at + 1];
    at += 2;
    for (int field = 0; field < 2; ++field) {  // the language and translated keyword
        const void* end = memchr(body.data() + at, 0, body.size() - at);
        if (end == nullptr)
            return false;
        at = static_cast<size_t>(static_cast<const uint8_t*>(end) - body.data()) + 1;
    }
    if (!compressed) {
        metadata.xmp.assign(body.begin() + at, body.end());
        return true;
    }
    if (method != 0 || !Inflate(body.data() + at, body.size() - at, kMostMetadataBytes, metadata.xmp)) {
        metadata.xmp.clear();
        return false;
    }
    return true;
}

bool IsPngKeyword(const std::string& name);

// Whether a tEXt, zTXt or iTXt chunk stands as PNG defines it, so that a
// strict reader takes the output: a keyword of 1 to 79 printable Latin-1
// characters without a space at either end or two in a row, its 0, and for
// zTXt the compression method 0, for iTXt a flag of 0 or 1, method 0, and
// the language and translated keyword each ended by 0.
bool IsValidTextChunk(const uint8_t type[4], const std::vector<uint8_t>& body)
{
    const size_t keyword = KeywordLength(body);
    const std::string name(body.begin(), body.begin() + keyword);
    if (keyword == body.size() || !IsPngKeyword(name) || name.find("  ") != std::string::npos)
        return false;
    const size_t at = keyword + 1;
    if (Is(type, "zTXt"))
        return body.size() > at && body[at] == 0;
    if (!Is(type, "iTXt"))
        return true;
    if (body.size() < at + 2 || body[at] > 1 || body[at + 1] != 0)
        return false;
    const uint8_t* language = static_cast<const uint8_t*>(memchr(body.data() + at + 2, 0, body.size() - at - 2));
    return language != nullptr &&
           memchr(language + 1, 0, static_cast<size_t>(body.data() + body.size() - language - 1)) != nullptr;
}

void WalkPng(ByteSource& file, PictureMetadata& metadata)
{
    uint64_t walked = 0;
    metadata.fromPng = true;
    PngChunkWalk walk(file);
    PngChunkHead chunk;
    // The pixels' chunks are stepped over, and not counted: only their heads are read.
    while (walk.Next(chunk) && chunk.whole && !IsChunk(chunk, "IEND") &&
           (IsChunk(chunk, "IDAT") || Walked(uint64_t{chunk.length} + 12, walked, metadata))) {
        const uint8_t* type = reinterpret_cast<const uint8_t*>(chunk.type);
        const bool exif = Is(type, "eXIf") && metadata.exif.empty();
        const bool icc = Is(type, "iCCP") && metadata.icc.empty();
        const bool text = Is(type, "tEXt") || Is(type, "zTXt") || Is(type, "iTXt");
        const bool phys = Is(type, "pHYs") && chunk.length == 9;
        std::vector<uint8_t> body;
        if ((exif || icc || text || phys) && ReadBody(file, chunk.at + 8, chunk.length, body)) {
            if (exif)
                metadata.exif = std::move(body);
            else if (icc)
                TakeIccChunk(body, metadata);
            else if (!(Is(type, "iTXt") && metadata.xmp.empty() && TakeXmpChunk(body, metadata)) &&
                     (phys || IsValidTextChunk(type, body)))
                metadata.pngExtras.push_back({std::string(chunk.type, 4), std::move(body)});
        }
    }
}

// ---- EXIF -----------------------------------------------------------------

// The EXIF block as a TIFF file: a byte order, then directories of 12-byte
// entries (tag, type, count, values or their offset) with a link to the next.
// Only the Put functions write.
class Tiff {
public:
    Tiff(uint8_t* b, size_t size) : b_(b), size_(size) {}

    // The byte order mark and 42 that begin every TIFF header.
    bool Open()
    {
        return size_ >= 8 && TiffOrder(b_, little_);
    }
    size_t Size() const { return size_; }
    uint32_t U16(size_t at) const { return TiffU16(&b_[at], little_); }
    uint32_t U32(size_t at) const { return TiffU32(&b_[at], little_); }
    void Put16(size_t at, uint32_t v)
    {
        b_[at + (little_ ? 0 : 1)] = static_cast<uint8_t>(v);
        b_[at + (little_ ? 1 : 0)] = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v)
    {
        Put16(at + (little_ ? 0 : 2), v & 0xFFFF);
        Put16(at + (little_ ? 2 : 0), v >> 16);
    }

    // The entry count of the directory at `at`, when the count and its
    // entries lie inside the block past the header.
    bool Directory(uint64_t at, uint32_t& entries) const
    {
        if (at < 8 || at > Size() - 2)
            return false;
        entries = U16(at);
        return TiffDirectoryFits(at, entries, Size());
    }
    // Where the link to the next directory stands, when it is inside the block.
    bool LinkAt(size_t directory, uint32_t entries, size_t& at) const
    {
        at = directory + 2 + 12 * static_cast<size_t>(entries);
        return Size() - at >= 4;
    }

private:
    uint8_t* b_;
    size_t size_;
    bool little_ = true;
};

uint64_t ValueBytes(uint32_t type, uint32_t count)
{
    // BYTE, ASCII, SHORT, LONG, RATIONAL, SBYTE, UNDEFINED, SSHORT, SLONG,
    // SRATIONAL, FLOAT, DOUBLE, IFD.
    static const uint8_t kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < 14 ? kSizes[type] * static_cast<uint64_t>(count) : 0;
}

// Where an entry's values stand and how many bytes they take: inside the
// entry when 4 bytes hold them. False when they run past the block's end.
bool ValuesOf(const Tiff& t, size_t entry, size_t& at, uint64_t& bytes)
{
    bytes = ValueBytes(t.U16(entry + 2), t.U32(entry + 4));
    at = entry + 8;
    if (bytes <= 4)
        return true;
    at = t.U32(entry + 8);
    return at <= t.Size() && bytes <= t.Size() - at;
}

const uint16_t kExifDirectoryTag = 0x8769, kGpsDirectoryTag = 0x8825, kInteropDirectoryTag = 0xA005;

// The offset a directory entry `tag` points to (a LONG or IFD, one value),
// or 0.
size_t PointerOf(const Tiff& t, size_t directory, uint32_t entries, uint16_t tag)
{
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + 12 * static_cast<size_t>(i);
        const uint32_t type = t.U16(entry + 2);
        if (t.U16(entry) == tag && (type == 4 || type == 13) && t.U32(entry + 4) == 1)
            return t.U32(entry + 8);
    }
    return 0;
}

// The first directory, and the EXIF sub-directory when it can be read (0
// otherwise); false when the first cannot.
bool MainDirectories(const Tiff& t, size_t directories[2], uint32_t entries[2])
{
    directories[0] = t.U32(4);
    if (!t.Directory(directories[0], entries[0]))
        return false;
    directories[1] = PointerOf(t, directories[0], entries[0], kExifDirectoryTag);
    if (!t.Directory(directories[1], entries[1]))
        directories[1] = entries[1] = 0;
    return true;
}

// A SHORT or LONG entry of one value set to `value`; a SHORT too small for
// it becomes a LONG, which fits the entry all the same.
void SetNumber(Tiff& t, size_t entry, uint32_t value)
{
    const uint32_t type = t.U16(entry + 2);
    if (t.U32(entry + 4) != 1 || (type != 3 && type != 4))
        return;
    if (type == 3 && value <= 0xFFFF) {
        t.Put16(entry + 8, value);
        return;
    }
    t.Put16(entry + 2, 4);
    t.Put32(entry + 8, value);
}

struct Span {
    uint64_t start, end;
};

// The bytes of a directory: its count, entries and link, and the values
// stored apart from it.
void AddDirectorySpans(const Tiff& t, size_t directory, uint32_t entries, std::vector<Span>& spans)
{
    spans.push_back({directory, std::min<uint64_t>(directory + 2 + 12 * uint64_t{entries} + 4, t.Size())});
    for (uint32_t i = 0; i < entries; ++i) {
        size_t at;
        uint64_t bytes;
        const size_t entry = directory + 2 + 12 * static_cast<size_t>(i);
        if (ValuesOf(t, entry, at, bytes) && bytes > 4)
            spans.push_back({at, at + bytes});
    }
}

// The thumbnail directory's spans and its picture's: a JPEG by its offset
// (513) and length (514), or one strip (273, 279).
void AddThumbnailSpans(const Tiff& t, size_t directory, uint32_t entries, std::vector<Span>& spans)
{
    AddDirectorySpans(t, directory, entries, spans);
    static const uint16_t kPictureTags[2][2] = {{513, 514}, {273, 279}};
    for (const auto& tags : kPictureTags) {
        const size_t at = PointerOf(t, directory, entries, tags[0]);
        const size_t length = PointerOf(t, directory, entries, tags[1]);
        if (at != 0 && at <= t.Size() && length <= t.Size() - at)
            spans.push_back({at, at + length});
    }
}

// The spans sorted and those that share bytes made one, so that each
// question of Overlaps is a search: a hostile block has tens of thousands.
std::vector<Span> Merged(std::vector<Span> spans)
{
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> out;
    for (const Span& s : spans) {
        if (!out.empty() && s.start < out.back().end)
            out.back().end = std::max(out.back().end, s.end);
        else
            out.push_back(s);
    }
    return out;
}

// Whether `a` shares a byte with one of `merged` (as Merged gives them).
bool Overlaps(const Span& a, const std::vector<Span>& merged)
{
    const auto b = std::partition_point(merged.begin(), merged.end(), [&](const Span& s) { return s.end <= a.start; });
    return b != merged.end() && b->start < a.end;
}

// Unlinks the second directory and takes its bytes out: cut off when they
// all come after everything else (as cameras write them), else zeroed where
// nothing else stands.
void DropThumbnail(Tiff& t, std::vector<uint8_t>& exif, const size_t directories[2], const uint32_t entries[2])
{
    size_t link;
    if (!t.LinkAt(directories[0], entries[0], link) || t.U32(link) == 0)
        return;
    const size_t second = t.U32(link);
    t.Put32(link, 0);
    uint32_t secondEntries;
    if (!t.Directory(second, secondEntries))
        return;
    std::vector<Span> kept = {{0, 8}}, thumbnail;
    for (int i = 0; i < 2; ++i)
        if (directories[i] != 0)
            AddDirectorySpans(t, directories[i], entries[i], kept);
    for (uint16_t tag : {kGpsDirectoryTag, kInteropDirectoryTag}) {
        const size_t at = PointerOf(t, directories[tag == kGpsDirectoryTag ? 0 : 1],
                                    entries[tag == kGpsDirectoryTag ? 0 : 1], tag);
        uint32_t n;
        if (t.Directory(at, n))
            AddDirectorySpans(t, at, n, kept);
    }
    AddThumbnailSpans(t, second, secondEntries, thumbnail);
    uint64_t keptEnd = 0, thumbnailStart = UINT64_MAX;
    for (const Span& s : kept)
        keptEnd = std::max(keptEnd, s.end);
    for (const Span& s : thumbnail)
        thumbnailStart = std::min(thumbnailStart, s.start);
    if (thumbnailStart >= keptEnd) {
        exif.resize(static_cast<size_t>(thumbnailStart));
        return;
    }
    kept = Merged(std::move(kept));
    for (const Span& s : thumbnail)
        if (!Overlaps(s, kept))
            std::fill(exif.begin() + static_cast<ptrdiff_t>(s.start), exif.begin() + static_cast<ptrdiff_t>(s.end), 0);
}

// Where the entries of the first directory, then of the EXIF
// sub-directory (0: none), stand, in that order.
std::vector<size_t> EntriesOf(const size_t directories[2], const uint32_t entries[2])
{
    std::vector<size_t> at;
    for (int d = 0; d < 2; ++d)
        for (uint32_t i = 0; directories[d] != 0 && i < entries[d]; ++i)
            at.push_back(directories[d] + 2 + 12 * static_cast<size_t>(i));
    return at;
}

bool FitExif(std::vector<uint8_t>& exif, uint32_t width, uint32_t height, bool turned)
{
    Tiff t(exif.data(), exif.size());
    size_t directories[2];
    uint32_t entries[2];
    if (!t.Open() || !MainDirectories(t, directories, entries))
        return false;
    for (size_t entry : EntriesOf(directories, entries)) {
        switch (t.U16(entry)) {
        case 274:  // Orientation: 1 once the pixels are upright
            if (turned)
                SetNumber(t, entry, 1);
            break;
        case 256: case 0xA002: SetNumber(t, entry, width); break;  // ImageWidth, PixelXDimension
        case 257: case 0xA003: SetNumber(t, entry, height); break; // ImageLength, PixelYDimension
        }
    }
    DropThumbnail(t, exif, directories, entries);
    // Directories that overlap one another (a damaged block) can undo one
    // write with another, a link zeroed over a value set: such a block goes
    // whole rather than keep a turn or a thumbnail.
    ExifEntry orientation;
    Tiff fitted(exif.data(), exif.size());
    if (ExifHasSecondDirectory(exif) || !fitted.Open())
        return false;
    return !turned || !FindExifEntry(exif, 274, orientation) || orientation.type != 3 || orientation.count != 1 ||
           fitted.U16(orientation.valuesAt) == 1;
}

// A profile with the signature every ICC profile has, for RGB data.
bool IsRgbProfile(const std::vector<uint8_t>& icc)
{
    return icc.size() >= 128 && memcmp(&icc[36], "acsp", 4) == 0 && memcmp(&icc[16], "RGB ", 4) == 0;
}

// A PNG keyword's rules: printable Latin-1, no space at either end.
bool IsPngKeyword(const std::string& name)
{
    if (name.empty() || name.size() > 79 || name.front() == ' ' || name.back() == ' ')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const uint8_t u = static_cast<uint8_t>(c);
        return (u >= 32 && u <= 126) || u >= 161;
    });
}

void AppendSegment(std::vector<uint8_t>& out, uint8_t marker, const char* prefix, size_t prefixSize,
                   const uint8_t* data, size_t size)
{
    const size_t length = 2 + prefixSize + size;
    out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), prefix, prefix + prefixSize);
    out.insert(out.end(), data, data + size);
}

}  // namespace


PictureMetadata ReadPictureMetadata(ByteSource& source)
{
    PictureMetadata metadata;
    PagedSource file(source);
    uint8_t signature[8];
    if (!file.Read(0, signature, sizeof signature))
        return metadata;
    if (signature[0] == 0xFF && signature[1] == 0xD8)
        WalkJpeg(file, metadata);
    else if (memcmp(signature, "\x89PNG\r\n\x1A\n", 8) == 0)
        WalkPng(file, metadata);
    return metadata;
}

void FitMetadataToOutput(PictureMetadata& metadata, uint32_t width, uint32_t height)
{
    if (!metadata.exif.empty() && !FitExif(metadata.exif, width, height, !metadata.fromPng))
        metadata.exif.clear();
    if (!IsRgbProfile(metadata.icc)) {
        metadata.icc.clear();
        metadata.iccName.clear();
    }
}

bool SpliceJpegMetadata(std::vector<uint8_t>& jpeg, const PictureMetadata& metadata)
{
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return false;
    size_t at = 2;
    while (jpeg.size() - at >= 4 && jpeg[at] == 0xFF && jpeg[at + 1] == 0xE0) {
        const size_t length = ReadBig16(&jpeg[at + 2]);
        if (length < 2 || length > jpeg.size() - at - 2)
            break;
        at += 2 + length;
    }
    std::vector<uint8_t> segments;
    const std::vector<uint8_t>& exif = metadata.exif;
    if (!exif.empty() && exif.size() <= kMostSegmentBody - 6)
        AppendSegment(segments, 0xE1, kExifPrefix, 6, exif.data(), exif.size());
    // Each chunk: the name, its number from 1 and the count of chunks.
    const std::vector<uint8_t>& icc = metadata.icc;
    const size_t piece = kMostSegmentBody - sizeof kIccPrefix - 2;
    const size_t pieces = (icc.size() + piece - 1) / piece;
    for (size_t i = 0; pieces <= 255 && i < pieces; ++i) {
        char prefix[sizeof kIccPrefix + 2];
        memcpy(prefix, kIccPrefix, sizeof kIccPrefix);
        prefix[sizeof kIccPrefix] = static_cast<char>(i + 1);
        prefix[sizeof kIccPrefix + 1] = static_cast<char>(pieces);
        const size_t start = i * piece;
        AppendSegment(segments, 0xE2, prefix, sizeof prefix, icc.data() + start, std::min(piece, icc.size() - start));
    }
    const std::vector<uint8_t>& xmp = metadata.xmp;
    if (!xmp.empty() && xmp.size() <= kMostSegmentBody - sizeof kXmpPrefix)
        AppendSegment(segments, 0xE1, kXmpPrefix, sizeof kXmpPrefix, xmp.data(), xmp.size());
    jpeg.insert(jpeg.begin() + static_cast<ptrdiff_t>(at), segments.begin(), segments.end());
    return true;
}

std::vector<PngChunk> PngMetadataChunks(const PictureMetadata& metadata)
{
    std::vector<PngChunk> chunks;
    if (!metadata.icc.empty()) {
        const std::vector<uint8_t> packed = Deflate(metadata.icc);
        const std::string name = IsPngKeyword(metadata.iccName) ? metadata.iccName : kDefaultIccName;
        PngChunk chunk = {"iCCP", std::vector<uint8_t>(name.begin(), name.end())};
        chunk.data.insert(chunk.data.end(), {0, 0});  // the name's end, compression method 0
        chunk.data.insert(chunk.data.end(), packed.begin(), packed.end());
        if (!packed.empty())
            chunks.push_back(std::move(chunk));
    }
    if (!metadata.exif.empty())
        chunks.push_back({"eXIf", metadata.exif});
    chunks.insert(chunks.end(), metadata.pngExtras.begin(), metadata.pngExtras.end());
    if (!metadata.xmp.empty()) {
        // Keyword, 0, uncompressed (flag 0, method 0), no language, no translation.
        PngChunk chunk = {"iTXt", std::vector<uint8_t>(kXmpKeyword, kXmpKeyword + sizeof kXmpKeyword)};
        chunk.data.insert(chunk.data.end(), {0, 0, 0, 0});
        chunk.data.insert(chunk.data.end(), metadata.xmp.begin(), metadata.xmp.end());
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

bool FindExifEntry(const std::vector<uint8_t>& exif, uint16_t tag, ExifEntry& found)
{
    Tiff t(const_cast<uint8_t*>(exif.data()), exif.size());  // only read
    size_t directories[2];
    uint32_t entries[2];
    if (!t.Open() || !MainDirectories(t, directories, entries))
        return false;
    for (size_t entry : EntriesOf(directories, entries)) {
        uint64_t bytes;
        if (t.U16(entry) != tag || !ValuesOf(t, entry, found.valuesAt, bytes))
            continue;
        found.type = static_cast<uint16_t>(t.U16(entry + 2));
        found.count = t.U32(entry + 4);
        return true;
    }
    return false;
}

bool ExifHasSecondDirectory(const std::vector<uint8_t>& exif)
{
    Tiff t(const_cast<uint8_t*>(exif.data()), exif.size());  // only read
    size_t directories[2], link;
    uint32_t entries[2];
    return t.Open() && MainDirectories(t, directories, entries) && t.LinkAt(directories[0], entries[0], link) &&
           t.U32(link) != 0;
}

// ---- GPS ------------------------------------------------------------------

namespace {

// Takes the GPS pointer out of the first directory and the EXIF
// sub-directory (the later entries and the link move up, the freed entry is
// zeroed) and zeroes the GPS directory's bytes. False when the block cannot
// be walked, or its GPS directory shares bytes with what stays.
bool DropExifGps(std::vector<uint8_t>& exif)
{
    Tiff t(exif.data(), exif.size());
    size_t directories[2];
    uint32_t entries[2];
    if (!t.Open() || !MainDirectories(t, directories, entries))
        return false;
    std::vector<Span> kept = {{0, 8}}, gps;
    for (int d = 0; d < 2; ++d) {
        uint32_t n;
        const size_t at = directories[d] != 0 ? PointerOf(t, directories[d], entries[d], kGpsDirectoryTag) : 0;
        if (t.Directory(at, n))
            AddDirectorySpans(t, at, n, gps);
        if (directories[d] != 0)
            AddDirectorySpans(t, directories[d], entries[d], kept);
    }
    uint32_t n;
    const size_t interop = directories[1] != 0 ? PointerOf(t, directories[1], entries[1], kInteropDirectoryTag) : 0;
    if (t.Directory(interop, n))
        AddDirectorySpans(t, interop, n, kept);
    size_t link;
    if (t.LinkAt(directories[0], entries[0], link) && t.Directory(t.U32(link), n))
        AddThumbnailSpans(t, t.U32(link), n, kept);
    kept = Merged(std::move(kept));
    for (const Span& s : gps)
        if (Overlaps(s, kept))
            return false;
    for (int d = 0; d < 2 && directories[d] != 0; ++d) {
        const size_t first = directories[d] + 2, linkAt = first + 12 * size_t{entries[d]};
        const size_t end = std::min<size_t>(linkAt + 4, exif.size());
        size_t to = first;
        for (size_t entry = first; entry < linkAt; entry += 12) {
            if (t.U16(entry) == kGpsDirectoryTag)
                continue;
            memmove(exif.data() + to, exif.data() + entry, 12);
            to += 12;
        }
        memmove(exif.data() + to, exif.data() + linkAt, end - linkAt);
        std::fill(exif.begin() + static_cast<ptrdiff_t>(to + end - linkAt), exif.begin() + static_cast<ptrdiff_t>(end), 0);
        t.Put16(directories[d], static_cast<uint16_t>((to - first) / 12));
    }
    for (const Span& s : gps)
        std::fill(exif.begin() + static_cast<ptrdiff_t>(s.start), exif.begin() + static_cast<ptrdiff_t>(s.end), 0);
    ExifEntry left;
    return !FindExifEntry(exif, kGpsDirectoryTag, left);
}

bool StartsAt(const std::string& text, size_t at, const char* with) { return text.compare(at, strlen(with), with) == 0; }

// The end of the tag that begins at `at` (one past its '>'), past quoted
// values; npos when it has none.
size_t TagEnd(const std::string& text, size_t at)
{
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '"' || text[i] == '\'') {
            i = text.find(text[i], i + 1);
            if (i == std::string::npos)
                return i;
        } else if (text[i] == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// The end of what begins at `at` and is no element: a comment, CDATA, a
// processing instruction or a declaration; `at` itself for an element's tag.
size_t MarkupEnd(const std::string& text, size_t at)
{
    static const char* const kOpenClose[][2] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}};
    for (const auto& pair : kOpenClose) {
        if (StartsAt(text, at, pair[0])) {
            const size_t end = text.find(pair[1], at + strlen(pair[0]));
            return end == std::string::npos ? end : end + strlen(pair[1]);
        }
    }
    return at;
}

// A name with a prefix bound to the EXIF namespace, and GPS after the colon.
bool IsGpsName(const std::string& name, const std::set<std::string>& prefixes)
{
    const size_t colon = name.find(':');
    return colon != std::string::npos && name.size() > colon + 4 && name.compare(colon, 4, ":GPS") == 0 &&
           prefixes.count(name.substr(0, colon)) != 0;
}

bool IsPrefixByte(char c) { return strchr(" \t\r\n<>=\"'/:", c) == nullptr; }

// The prefix that ends at `end` (it may be empty).
std::string PrefixBefore(const std::string& text, size_t end)
{
    size_t start = end;
    while (start > 0 && IsPrefixByte(text[start - 1]))
        --start;
    return text.substr(start, end - start);
}

size_t NameEnd(const std::string& text, size_t at) { return text.find_first_of(" \t\r\n/>=", at); }

// The tag without its GPS attributes, each with the white space before it.
std::string WithoutGpsAttributes(const std::string& tag, const std::set<std::string>& prefixes)
{
    std::string out;
    size_t at = NameEnd(tag, 1);
    out.assign(tag, 0, at);
    while (at < tag.size()) {
        const size_t name = tag.find_first_not_of(" \t\r\n", at);
        const size_t nameEnd = NameEnd(tag, name);
        const size_t equals = tag.find_first_not_of(" \t\r\n", nameEnd);
        const size_t quote = equals < tag.size() && tag[equals] == '=' ? tag.find_first_not_of(" \t\r\n", equals + 1)
                                                                       : std::string::npos;
        if (quote == std::string::npos || (tag[quote] != '"' && tag[quote] != '\'')) {
            out.append(tag, at, std::string::npos);  // "/>" or ">"
            break;
        }
        const size_t close = tag.find(tag[quote], quote + 1);
        if (close == std::string::npos) {
            out.append(tag, at, std::string::npos);  // a quote the tag's end read as inside another
            break;
        }
        const size_t end = close + 1;
        if (!IsGpsName(tag.substr(name, nameEnd - name), prefixes))
            out.append(tag, at, end - at);
        at = end;
    }
    return out;
}

// The packet without its GPS properties; false when it cannot be walked as
// XML text, or names one still.
bool DropXmpGps(std::vector<uint8_t>& xmp)
{
    const std::string text(xmp.begin(), xmp.end());
    if (text.find('\0') != std::string::npos)
        return false;  // UTF-16 or UTF-32, which this walk does not read
    std::set<std::string> prefixes = {"exif"};
    for (const char* bound : {"=\"http://ns.adobe.com/exif/1.0/\"", "='http://ns.adobe.com/exif/1.0/'"}) {
        for (size_t at = 0; (at = text.find(bound, at)) != std::string::npos; ++at) {
            const std::string prefix = PrefixBefore(text, at);
            if (!prefix.empty() && at >= prefix.size() + 6 && text.compare(at - prefix.size() - 6, 6, "xmlns:") == 0)
                prefixes.insert(prefix);
        }
    }
    std::string out;
    size_t at = 0;
    for (size_t open; (open = text.find('<', at)) != std::string::npos;) {
        out.append(text, at, open - at);
        at = MarkupEnd(text, open);
        if (at == std::string::npos)
            return false;
        if (at != open) {
            out.append(text, open, at - open);
            continue;
        }
        at = TagEnd(text, open);
        if (at == std::string::npos)
            return false;
        const std::string tag = text.substr(open, at - open);
        const std::string name = tag.substr(1, NameEnd(tag, 1) - 1);
        if (!IsGpsName(name, prefixes)) {
            out += WithoutGpsAttributes(tag, prefixes);
            continue;
        }
        // The element with all it holds, and the white space before it.
        out.erase(out.find_last_not_of(" \t\r\n") + 1);
        for (int depth = tag[tag.size() - 2] == '/' ? 0 : 1; depth > 0;) {
            const size_t next = text.find('<', at);
            if (next == std::string::npos)
                return false;
            at = MarkupEnd(text, next);
            if (at == next && (at = TagEnd(text, next)) != std::string::npos) {
                const bool closing = text[next + 1] == '/';
                if (text.compare(next + (closing ? 2 : 1), name.size(), name) == 0 &&
                    NameEnd(text, next + (closing ? 2 : 1)) == next + (closing ? 2 : 1) + name.size())
                    depth += closing ? -1 : text[at - 2] == '/' ? 0 : 1;
            }
            if (at == std::string::npos)
                return false;
        }
    }
    out.append(text, at, std::string::npos);
    // What is left names no GPS property: by a bound prefix, or by one
    // that ends as the usual one does, in a name this walk did not read as one.
    for (size_t at = 0; (at = out.find(":GPS", at)) != std::string::npos; ++at) {
        const std::string prefix = PrefixBefore(out, at);
        if (prefixes.count(prefix) != 0 || (prefix.size() >= 4 && prefix.compare(prefix.size() - 4, 4, "exif") == 0))
            return false;
    }
    xmp.assign(out.begin(), out.end());
    return true;
}

}  // namespace

void DropGps(PictureMetadata& metadata)
{
    if (!metadata.exif.empty() && !DropExifGps(metadata.exif))
        metadata.exif.clear();
    if (!metadata.xmp.empty() && !DropXmpGps(metadata.xmp))
        metadata.xmp.clear();
    // A PNG's EXIF or XMP written as hex in a text chunk, as some converters
    // do, cannot be edited here.
    auto raw = [](const PngChunk& chunk) {
        static const char* const kKeywords[] = {"Raw profile type exif", "Raw profile type APP1",
                                                "Raw profile type xmp"};
        return std::any_of(std::begin(kKeywords), std::end(kKeywords), [&](const char* k) {
            return chunk.data.size() > strlen(k) && memcmp(chunk.data.data(), k, strlen(k) + 1) == 0;
        });
    };
    auto& extras = metadata.pngExtras;
    extras.erase(std::remove_if(extras.begin(), extras.end(), raw), extras.end());
}
