// The metadata walk: a JPEG's segments up to its scan, a PNG's chunks to
// its end, or a HEIF's EXIF item and colour property, by the container
// walks every reader shares (container_walk.h);
// then the EXIF block's directories, each offset compared with the
// block's size before it is followed.
#include "formats/metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "formats/bytes.h"
#include "formats/container_walk.h"

namespace {

// The most a JPEG segment's body holds: its length field counts itself.
enum : size_t { kMostSegmentBody = 65533 };

const char kExifPrefix[] = "Exif\0\0";                          // 6 bytes
const char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";       // 29 bytes with its zero
const char kXmpExtensionPrefix[] = "http://ns.adobe.com/xmp/extension/";  // 35 bytes with its zero
const char kIccPrefix[] = "ICC_PROFILE";                        // 12 bytes with its zero, then number and count
const char kXmpKeyword[] = "XML:com.adobe.xmp";
const char kDefaultIccName[] = "ICC profile";
// duotint's record of how an output was made (PictureMetadata::look): one
// XMP property in a namespace of duotint's own, or a PNG text chunk.
const char kLookNamespace[] = "urn:duotint:xmp:1.0/";
const char kLookPrefix[] = "duotint:";
const char kLookName[] = "duotint:look";
const char kLookKeyword[] = "duotint look";
// The longest record read or written: a record is a command line's words.
enum : size_t { kMostLookBytes = 512 };

// A record as duotint writes one: printable ASCII, with nothing XML would
// have to escape in an attribute.
bool IsLookRecord(const std::string& look)
{
    return !look.empty() && look.size() <= kMostLookBytes && std::all_of(look.begin(), look.end(), [](char c) {
        return c >= ' ' && c <= '~' && c != '"' && c != '&' && c != '<' && c != '>' && c != '\'';
    });
}

// The record as attributes of an rdf:Description, each after a space.
std::string LookAttributes(const std::string& look)
{
    return std::string(" xmlns:duotint=\"") + kLookNamespace + "\" " + kLookName + "=\"" + look + "\"";
}

// A packet of one rdf:Description with these attributes (each after a space).
std::string XmpPacket(const std::string& attributes)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\"" + attributes + "/></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

// What a walk of an XMP packet takes out: the properties that name a
// position, or all of duotint's own namespace.
enum class XmpCut { position, duotint };

struct XmpWalked {
    std::string look;                          // the record's value, as an attribute or plain text
    size_t descriptionAt = std::string::npos;  // in what is left: past the first rdf:Description's name
    size_t rdfAt = std::string::npos;          // in what is left: past the first rdf:RDF start tag
};

// The record out of the packet into metadata.look, unless one is there: no
// property of duotint's namespace stays in it, so an output made from an
// output carries its own record alone. A packet the walk cannot read with
// certainty is left as it was, and gives no record.
void TakeLookFromXmp(PictureMetadata& metadata);
// The packet with `look` in it, as attributes of its first rdf:Description
// (or of a new one in its rdf:RDF), any earlier record gone; empty when
// the walk cannot read it with certainty or it has no rdf:RDF.
std::string XmpWithLook(const std::vector<uint8_t>& xmp, const std::string& look);


bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool StartsAt(const std::string& text, size_t at, const char* with) { return text.compare(at, strlen(with), with) == 0; }

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

// "70 KB": a size for a note.
std::string Kilobytes(size_t bytes) { return std::to_string((bytes + 512) / 1024) + " KB"; }

// The MD5 of `size` bytes as 32 upper-case hex digits: the name an XMP
// packet's extension goes by in a JPEG.
std::string Md5Hex(const uint8_t* data, size_t size)
{
    static const uint32_t kSines[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
    };
    static const uint8_t kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    // The bytes, 0x80, zeros to 56 bytes past a multiple of 64, the length in bits.
    std::vector<uint8_t> m(data, data + size);
    m.push_back(0x80);
    m.resize((m.size() + 8 + 63) / 64 * 64 - 8);
    for (int i = 0; i < 8; ++i)
        m.push_back(static_cast<uint8_t>((uint64_t{size} * 8) >> (8 * i)));
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t block = 0; block < m.size(); block += 64) {
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (uint32_t i = 0; i < 64; ++i) {
            uint32_t f, g;
            switch (i / 16) {
            case 0: f = (b & c) | (~b & d); g = i; break;
            case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); g = 7 * i % 16; break;
            }
            f += a + kSines[i] + Read32(&m[block + 4 * g]);
            const uint32_t shift = kShifts[i / 16][i % 4];
            a = d;
            d = c;
            c = b;
            b += (f << shift) | (f >> (32 - shift));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    std::string hex;
    for (int i = 0; i < 16; ++i)
        hex += "0123456789ABCDEF"[(h[i / 4] >> (8 * (i % 4) + 4)) & 15], hex += "0123456789ABCDEF"[(h[i / 4] >> (8 * (i % 4))) & 15];
    return hex;
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

// Joins the Extended XMP of a JPEG, its parts each past the extension's
// signature, to the packet that names it (defined with the XML walk
// below); true when it did.
bool JoinExtendedXmp(PictureMetadata& metadata, const std::vector<std::vector<uint8_t>>& parts);

void WalkJpeg(ByteSource& file, PictureMetadata& metadata)
{
    uint64_t walked = 0;
    std::vector<IccPiece> pieces;
    std::vector<std::vector<uint8_t>> extension;
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
            TakeLookFromXmp(metadata);
        } else if (app1 && Begins(body, kXmpExtensionPrefix, sizeof kXmpExtensionPrefix)) {
            extension.emplace_back(body.begin() + sizeof kXmpExtensionPrefix, body.end());
        } else if (app2 && body.size() > sizeof kIccPrefix + 2 && Begins(body, kIccPrefix, sizeof kIccPrefix)) {
            const uint8_t* counts = body.data() + sizeof kIccPrefix;
            const uint8_t* end = body.data() + body.size();
            pieces.push_back({counts[0], counts[1], std::vector<uint8_t>(counts + 2, end)});
        }
    }
    metadata.icc = JoinIccPieces(pieces);
    // A record the extension brought goes out of the whole too.
    if (JoinExtendedXmp(metadata, extension))
        TakeLookFromXmp(metadata);
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
    std::string lookChunk;
    metadata.shownAsStored = true;
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
            const bool xmp = !exif && !icc && Is(type, "iTXt") && metadata.xmp.empty() && TakeXmpChunk(body, metadata);
            if (exif)
                metadata.exif = std::move(body);
            else if (icc)
                TakeIccChunk(body, metadata);
            else if (xmp)
                TakeLookFromXmp(metadata);
            else if (Is(type, "tEXt") && KeywordLength(body) == sizeof kLookKeyword - 1 &&
                     memcmp(body.data(), kLookKeyword, sizeof kLookKeyword) == 0)
                // duotint's record goes in a text chunk of its own, read before any in the XMP.
                lookChunk.assign(body.begin() + sizeof kLookKeyword, body.end());
            else if (phys || IsValidTextChunk(type, body))
                metadata.pngExtras.push_back({std::string(chunk.type, 4), std::move(body)});
        }
    }
    if (IsLookRecord(lookChunk))
        metadata.look = lookChunk;
}

// ---- EXIF -----------------------------------------------------------------

// The EXIF block as a TIFF file, read through the one TIFF walk; only the
// Put functions write, into the block itself.
class Tiff {
public:
    Tiff(uint8_t* b, size_t size) : b_(b), source_(b, size), walk_(source_) {}
    Tiff(const Tiff&) = delete;

    bool Open() { return walk_.Open(); }
    size_t Size() const { return static_cast<size_t>(walk_.Size()); }
    uint32_t Byte(size_t at) const { return b_[at]; }
    uint32_t U16(size_t at) const { return walk_.U16(at); }
    uint32_t U32(size_t at) const { return walk_.U32(at); }
    void Put16(size_t at, uint32_t v)
    {
        const bool little = walk_.Little();
        b_[at + (little ? 0 : 1)] = static_cast<uint8_t>(v);
        b_[at + (little ? 1 : 0)] = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v)
    {
        const bool little = walk_.Little();
        Put16(at + (little ? 0 : 2), v & 0xFFFF);
        Put16(at + (little ? 2 : 0), v >> 16);
    }

    // The entry count of the directory at `at`, when it stands past the
    // header and its count and entries lie inside the block.
    bool Directory(uint64_t at, uint32_t& entries) const { return at >= 8 && walk_.Directory(at, entries); }
    // Where the link to the next directory stands, when it is inside the block.
    bool LinkAt(size_t directory, uint32_t entries, size_t& at) const
    {
        uint64_t link;
        const bool inside = walk_.LinkAt(directory, entries, link);
        at = static_cast<size_t>(link);
        return inside;
    }
    // Where an entry's values stand and how many bytes they take: inside the
    // entry when 4 bytes hold them. False when they run past the block's end.
    bool ValuesOf(size_t entry, size_t& at, uint64_t& bytes) const
    {
        TiffEntry e;
        walk_.EntryAt(entry, e);
        at = static_cast<size_t>(e.valuesAt);
        bytes = e.valueBytes;
        return walk_.ValuesInside(e);
    }

private:
    uint8_t* b_;
    MemorySource source_;
    // Reading a block in memory changes nothing of it.
    mutable TiffWalk walk_;
};

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
        if (t.ValuesOf(entry, at, bytes) && bytes > 4)
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

// Zeroes the bytes of `s` that none of `kept` (as Merged gives them) holds.
void ZeroOutside(std::vector<uint8_t>& b, const Span& s, const std::vector<Span>& kept)
{
    auto zero = [&](uint64_t from, uint64_t to) {
        std::fill(b.begin() + static_cast<ptrdiff_t>(from), b.begin() + static_cast<ptrdiff_t>(to), 0);
    };
    auto k = std::partition_point(kept.begin(), kept.end(), [&](const Span& x) { return x.end <= s.start; });
    for (uint64_t at = s.start; at < s.end; ++k) {
        if (k == kept.end() || k->start >= s.end) {
            zero(at, s.end);
            break;
        }
        if (k->start > at)
            zero(at, k->start);
        at = std::max(at, k->end);
    }
}

// How the walk reached a directory: a bit for each kind of path that leads
// to it, through the first directory's link (to the thumbnail's) or not,
// through a GPS pointer or not.
enum : uint8_t { kByMain = 1, kByThumbnail = 2, kGpsByMain = 4, kGpsByThumbnail = 8 };
enum : uint8_t { kKeptReach = kByMain | kByThumbnail, kGpsReach = kGpsByMain | kGpsByThumbnail };

struct LinkedDirectory {
    size_t at;
    uint32_t entries;
    uint8_t reach;
};

// The entries whose values name directories: EXIF, GPS, Interop, and the
// sub-directories a TIFF's first directory may list.
bool IsPointerTag(uint32_t tag)
{
    return tag == kExifDirectoryTag || tag == kGpsDirectoryTag || tag == kInteropDirectoryTag || tag == 0x14A;
}

// Directories linked, and pointer values read, at most: a camera writes a
// handful of each, and a walk stopped short could not say what it leaves.
enum : size_t { kMostDirectories = 64, kMostPointerValues = 1024 };

// The offsets a pointer entry names: each of its values, of whatever
// whole-number type it has, or, of any other type, each 4 bytes of them
// read as a LONG, as a reader that ignores the type would. False past
// kMostPointerValues in all.
bool AddPointedTo(const Tiff& t, size_t entry, std::vector<size_t>& out, size_t& read)
{
    size_t at;
    uint64_t bytes;
    if (!t.ValuesOf(entry, at, bytes))
        return true;  // past the block's end: nothing there to follow
    const uint32_t type = t.U16(entry + 2);
    const size_t width = type == 1 || type == 6 ? 1 : type == 3 || type == 8 ? 2 : 4;
    for (uint64_t i = 0; i + width <= bytes; i += width) {
        if (++read > kMostPointerValues)
            return false;
        out.push_back(width == 1 ? t.Byte(at + i) : width == 2 ? t.U16(at + i) : t.U32(at + i));
    }
    return true;
}

// Every directory the block links, from the first by its links and by
// every pointer entry, with how it is reached. False when there are more
// than a walk takes.
bool LinkedDirectories(const Tiff& t, std::vector<LinkedDirectory>& linked)
{
    struct Step {
        size_t at;
        uint8_t reach;
    };
    const size_t first = t.U32(4);
    std::vector<Step> steps = {{first, kByMain}};
    std::vector<size_t> pointed;
    size_t read = 0;
    linked.clear();
    while (!steps.empty()) {
        const Step step = steps.back();
        steps.pop_back();
        uint32_t entries;
        if (!t.Directory(step.at, entries))
            continue;
        size_t d = 0;
        while (d < linked.size() && linked[d].at != step.at)
            ++d;
        if (d == linked.size()) {
            if (linked.size() == kMostDirectories)
                return false;
            linked.push_back({step.at, entries, 0});
        }
        if ((linked[d].reach & step.reach) != 0)
            continue;
        linked[d].reach |= step.reach;
        // A GPS pointer leads to the GPS kind of the same path.
        const uint8_t gps = (step.reach & kKeptReach) != 0 ? static_cast<uint8_t>(step.reach << 2) : step.reach;
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t entry = step.at + 2 + 12 * static_cast<size_t>(i);
            const uint32_t tag = t.U16(entry);
            if (!IsPointerTag(tag))
                continue;
            pointed.clear();
            if (!AddPointedTo(t, entry, pointed, read))
                return false;
            for (size_t at : pointed)
                steps.push_back({at, tag == kGpsDirectoryTag ? gps : step.reach});
        }
        size_t link;
        if (t.LinkAt(step.at, entries, link) && t.U32(link) != 0) {
            // The first directory's link is to the thumbnail's.
            uint8_t next = step.reach;
            if (step.at == first)
                next = step.reach == kByMain ? uint8_t{kByThumbnail} : step.reach == kGpsByMain ? uint8_t{kGpsByThumbnail} : step.reach;
            steps.push_back({t.U32(link), next});
        }
    }
    return true;
}

// Unlinks the second directory and takes out what only it leads to (its
// sub-directories, a GPS one included, their values, its picture): cut off
// when it all comes after everything else (as cameras write it), else
// zeroed where nothing else stands. False when the block's links cannot
// all be walked.
bool DropThumbnail(Tiff& t, std::vector<uint8_t>& exif)
{
    std::vector<LinkedDirectory> linked;
    if (!LinkedDirectories(t, linked))
        return false;
    size_t link;
    uint32_t entries;
    if (!t.Directory(t.U32(4), entries) || !t.LinkAt(t.U32(4), entries, link) || t.U32(link) == 0)
        return true;
    t.Put32(link, 0);
    std::vector<Span> kept = {{0, 8}}, thumbnail;
    for (const LinkedDirectory& d : linked) {
        if ((d.reach & (kByMain | kGpsByMain)) != 0)
            AddDirectorySpans(t, d.at, d.entries, kept);
        else
            AddThumbnailSpans(t, d.at, d.entries, thumbnail);
    }
    uint64_t keptEnd = 0, thumbnailStart = UINT64_MAX;
    for (const Span& s : kept)
        keptEnd = std::max(keptEnd, s.end);
    for (const Span& s : thumbnail)
        thumbnailStart = std::min(thumbnailStart, s.start);
    if (thumbnailStart >= keptEnd && thumbnailStart < exif.size()) {
        exif.resize(static_cast<size_t>(thumbnailStart));
        return true;
    }
    kept = Merged(std::move(kept));
    for (const Span& s : Merged(std::move(thumbnail)))
        ZeroOutside(exif, s, kept);
    return true;
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
        case 274:  // Orientation: one SHORT 1 once the pixels are upright, whatever it held
            if (turned) {
                t.Put16(entry + 2, 3);
                t.Put32(entry + 4, 1);
                t.Put32(entry + 8, 0);
                t.Put16(entry + 8, 1);
            }
            break;
        case 256: case 0xA002: SetNumber(t, entry, width); break;  // ImageWidth, PixelXDimension
        case 257: case 0xA003: SetNumber(t, entry, height); break; // ImageLength, PixelYDimension
        }
    }
    if (!DropThumbnail(t, exif))
        return false;
    // Directories that overlap one another (a damaged block) can undo one
    // write with another, a link zeroed over a value set: such a block goes
    // whole rather than keep a turn or a thumbnail.
    Tiff fitted(exif.data(), exif.size());
    return fitted.Open() && !ExifHasSecondDirectory(exif) &&
           (!turned || ExifOrientation(exif.data(), exif.size()) == 1);
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

// The packet less its wrapper, the processing instructions before and
// after it and the padding before the last: an extension holds the XMP
// alone, readers parse it as it stands.
std::string Unwrapped(const std::vector<uint8_t>& xmp)
{
    const std::string text(xmp.begin(), xmp.end());
    size_t from = text.find_first_not_of(" \t\r\n");
    if (from != std::string::npos && StartsAt(text, from, "<?xpacket")) {
        const size_t end = text.find("?>", from);
        from = end == std::string::npos ? 0 : end + 2;
    } else {
        from = 0;
    }
    while (from < text.size() && IsSpace(text[from]))
        ++from;
    size_t to = text.size();
    const size_t last = text.rfind("<?xpacket");
    if (last != std::string::npos && last >= from && text.find("?>", last) != std::string::npos &&
        text.find_first_not_of(" \t\r\n", text.find("?>", last) + 2) == std::string::npos)
        to = last;
    while (to > from && IsSpace(text[to - 1]))
        --to;
    return text.substr(from, to - from);
}

// An XMP packet over one segment: a short packet in the usual segment that
// names the whole by its MD5, then the whole, unwrapped, in APP1 extension
// segments, each with that name, the whole's length and its part's offset.
// duotint's record, when given, goes in the short packet, which every
// reader reads first.
void AppendExtendedXmp(std::vector<uint8_t>& out, const std::vector<uint8_t>& xmp, const std::string& look)
{
    const std::string whole = Unwrapped(xmp);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(whole.data());
    const std::string guid = Md5Hex(bytes, whole.size());
    const std::string packet =
        XmpPacket(" xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid + "\"" +
                  (IsLookRecord(look) ? LookAttributes(look) : ""));
    AppendSegment(out, 0xE1, kXmpPrefix, sizeof kXmpPrefix, reinterpret_cast<const uint8_t*>(packet.data()),
                  packet.size());
    char prefix[sizeof kXmpExtensionPrefix + 32 + 8];
    memcpy(prefix, kXmpExtensionPrefix, sizeof kXmpExtensionPrefix);
    memcpy(prefix + sizeof kXmpExtensionPrefix, guid.data(), 32);
    const size_t piece = kMostSegmentBody - sizeof prefix;
    for (size_t at = 0; at < whole.size(); at += piece) {
        for (int i = 0; i < 4; ++i) {
            prefix[sizeof kXmpExtensionPrefix + 32 + i] = static_cast<char>(whole.size() >> (24 - 8 * i));
            prefix[sizeof kXmpExtensionPrefix + 36 + i] = static_cast<char>(at >> (24 - 8 * i));
        }
        AppendSegment(out, 0xE1, prefix, sizeof prefix, bytes + at, std::min(piece, whole.size() - at));
    }
}

}  // namespace


namespace {

// A HEIF item's bytes, its extents in this file joined; empty when it has
// none, or one lies in the meta box or another file, or cannot be read.
std::vector<uint8_t> HeifItem(ByteSource& file, const HeifMeta& meta, uint32_t item, uint64_t& walked,
                              PictureMetadata& metadata)
{
    std::vector<uint8_t> bytes, piece;
    HeifExtentWalk extents(file, meta.iloc);
    HeifExtent extent;
    while (item != 0 && meta.hasIloc && extents.Next(extent)) {
        if (extent.item != item)
            continue;
        const uint64_t length = extent.length == 0 && extent.at <= file.Size() ? file.Size() - extent.at : extent.length;
        if (!extent.inFile || extent.overflows || !Walked(length, walked, metadata) ||
            !ReadBody(file, extent.at, static_cast<size_t>(length), piece))
            return {};
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    return bytes;
}

// A HEIF's EXIF item (a 4-byte offset to the TIFF header, then the block;
// some writers leave "Exif\0\0" before it), its XMP item, and the primary
// picture's colour profile, a colr property of type prof or rICC.
void WalkHeif(ByteSource& file, PictureMetadata& metadata)
{
    IsoBoxWalk top(file, 0, file.Size());
    IsoBoxHead box;
    bool metaSeen = false;
    while (!metaSeen && top.Next(box) && box.whole)
        metaSeen = IsBox(box, "meta");
    HeifMeta meta;
    if (metaSeen)
        ReadHeifMeta(file, box, meta);
    if (!metaSeen || meta.damage != HeifDamage::none)
        return;
    uint64_t walked = 0;
    const std::vector<uint8_t> exif = HeifItem(file, meta, meta.exifItem, walked, metadata);
    metadata.xmp = HeifItem(file, meta, meta.xmpItem, walked, metadata);
    TakeLookFromXmp(metadata);
    if (exif.size() >= 4 && ReadBig32(exif.data()) <= exif.size() - 4) {
        size_t at = 4 + ReadBig32(exif.data());
        if (exif.size() - at >= 6 && memcmp(exif.data() + at, kExifPrefix, 6) == 0)
            at += 6;
        metadata.exif.assign(exif.begin() + static_cast<ptrdiff_t>(at), exif.end());
    }
    IsoBoxWalk properties(file, meta.ipco.bodyAt, meta.hasIpco ? meta.ipco.bodyAt + meta.ipco.bodySize : 0);
    for (uint32_t index = 1; index < 32768 && metadata.icc.empty() && properties.Next(box) && box.whole; ++index) {
        uint8_t type[4];
        if (!IsBox(box, "colr") || !meta.primaryProperties[index] || box.bodySize < 4 ||
            !file.Read(box.bodyAt, type, 4) || (memcmp(type, "prof", 4) != 0 && memcmp(type, "rICC", 4) != 0) ||
            !Walked(box.bodySize - 4, walked, metadata) ||
            !ReadBody(file, box.bodyAt + 4, static_cast<size_t>(box.bodySize - 4), metadata.icc))
            continue;
    }
}

}  // namespace

namespace {

// A WebP's first ICCP, EXIF and XMP chunks (an EXIF chunk some writers
// begin with "Exif\0\0"), walked to the end its RIFF header declares. Its
// pixels are shown as stored, as libwebp decodes them.
void WalkWebp(ByteSource& file, PictureMetadata& metadata)
{
    metadata.shownAsStored = true;
    uint8_t head[12];
    if (!file.Read(0, head, sizeof head) || memcmp(head + 8, "WEBP", 4) != 0)
        return;
    const uint64_t end = std::min<uint64_t>(file.Size(), 8 + uint64_t{Read32(head + 4)});
    uint64_t walked = 0;
    for (uint64_t at = 12; at <= end && end - at >= 8;) {
        uint8_t chunk[8];
        if (!file.Read(at, chunk, sizeof chunk))
            return;
        const uint64_t size = Read32(chunk + 4), body = at + 8;
        if (size > end - body)
            return;
        std::vector<uint8_t>* part = memcmp(chunk, "ICCP", 4) == 0   ? &metadata.icc
                                     : memcmp(chunk, "EXIF", 4) == 0 ? &metadata.exif
                                     : memcmp(chunk, "XMP ", 4) == 0 ? &metadata.xmp
                                                                     : nullptr;
        if (part != nullptr && part->empty() &&
            (!Walked(size, walked, metadata) || !ReadBody(file, body, static_cast<size_t>(size), *part)))
            return;
        at = body + size + (size & 1);
    }
    if (Begins(metadata.exif, kExifPrefix, 6))
        metadata.exif.erase(metadata.exif.begin(), metadata.exif.begin() + 6);
    TakeLookFromXmp(metadata);
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
    else if (memcmp(signature, kPngSignature, 8) == 0)
        WalkPng(file, metadata);
    else if (memcmp(signature + 4, "ftyp", 4) == 0)
        WalkHeif(file, metadata);
    else if (memcmp(signature, "RIFF", 4) == 0)
        WalkWebp(file, metadata);
    return metadata;
}

void FitMetadataToOutput(PictureMetadata& metadata, uint32_t width, uint32_t height)
{
    if (!metadata.exif.empty() && !FitExif(metadata.exif, width, height, !metadata.shownAsStored)) {
        metadata.exif.clear();
        metadata.notes.push_back("its EXIF cannot be read and is left out");
    }
    if (!IsRgbProfile(metadata.icc)) {
        metadata.icc.clear();
        metadata.iccName.clear();
    }
}

void FitMetadataToJpeg(PictureMetadata& metadata)
{
    if (metadata.exif.size() > kMostSegmentBody - 6) {
        metadata.notes.push_back("its EXIF (" + Kilobytes(metadata.exif.size()) +
                                 ") does not fit a JPEG segment and is left out");
        metadata.exif.clear();
    }
    const size_t piece = kMostSegmentBody - sizeof kIccPrefix - 2;
    if ((metadata.icc.size() + piece - 1) / piece > 255) {
        metadata.notes.push_back("its colour profile (" + Kilobytes(metadata.icc.size()) +
                                 ") does not fit 255 JPEG segments and is left out");
        metadata.icc.clear();
    }
}

std::vector<uint8_t> JpegMetadataSegments(const PictureMetadata& metadata)
{
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
    // duotint's record merged into the packet; past one segment, the record
    // goes in the short packet and the packet as it was in the extension.
    const std::vector<uint8_t>& xmp = metadata.xmp;
    const std::string& look = metadata.look;
    const std::string merged = !IsLookRecord(look) ? "" : xmp.empty() ? XmpPacket(LookAttributes(look)) : XmpWithLook(xmp, look);
    const size_t most = kMostSegmentBody - sizeof kXmpPrefix;
    if (!merged.empty() && merged.size() <= most)
        AppendSegment(segments, 0xE1, kXmpPrefix, sizeof kXmpPrefix, reinterpret_cast<const uint8_t*>(merged.data()),
                      merged.size());
    else if (!xmp.empty() && xmp.size() <= most && merged.empty())
        AppendSegment(segments, 0xE1, kXmpPrefix, sizeof kXmpPrefix, xmp.data(), xmp.size());
    else if (!xmp.empty() && xmp.size() <= UINT32_MAX)
        AppendExtendedXmp(segments, xmp, look);
    return segments;
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
    if (IsLookRecord(metadata.look)) {
        const std::string text = std::string(kLookKeyword, sizeof kLookKeyword) + metadata.look;  // with the keyword's 0
        chunks.push_back({"tEXt", std::vector<uint8_t>(text.begin(), text.end())});
    }
    return chunks;
}

bool FindExifEntry(const uint8_t* exif, size_t size, uint16_t tag, ExifEntry& found)
{
    Tiff t(const_cast<uint8_t*>(exif), size);  // only read
    size_t directories[2];
    uint32_t entries[2];
    if (!t.Open() || !MainDirectories(t, directories, entries))
        return false;
    for (size_t entry : EntriesOf(directories, entries)) {
        uint64_t bytes;
        if (t.U16(entry) != tag || !t.ValuesOf(entry, found.valuesAt, bytes))
            continue;
        found.type = static_cast<uint16_t>(t.U16(entry + 2));
        found.count = t.U32(entry + 4);
        return true;
    }
    return false;
}

int ExifOrientation(const uint8_t* exif, size_t size)
{
    ExifEntry entry;
    if (!FindExifEntry(exif, size, 274, entry) || entry.type != 3 || entry.count == 0)
        return 1;
    const uint32_t value = exif[0] == 'M' ? ReadBig16(exif + entry.valuesAt) : Read16(exif + entry.valuesAt);
    return TiffOrientation(entry.type, entry.count, value);
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

// An EXIF tag's name for a note.
std::string ExifTagName(uint32_t tag)
{
    static const struct { uint16_t tag; const char* name; } kNames[] = {
        {0x10E, "ImageDescription"}, {0x10F, "Make"}, {0x110, "Model"}, {0x131, "Software"},
        {0x132, "DateTime"}, {0x13B, "Artist"}, {0x8298, "Copyright"}, {0x9003, "DateTimeOriginal"},
        {0x9004, "DateTimeDigitized"}, {0x927C, "MakerNote"}, {0x9286, "UserComment"},
    };
    for (const auto& n : kNames)
        if (n.tag == tag)
            return n.name;
    char name[16];
    snprintf(name, sizeof name, "tag 0x%04X", tag);
    return name;
}

// Takes out the entries at `gone` (sorted) from the directory at
// `directory`: the later entries and the link move up, the freed bytes are
// zeroed.
void RemoveEntries(Tiff& t, std::vector<uint8_t>& exif, size_t directory, uint32_t entries,
                   const std::vector<size_t>& gone)
{
    const size_t first = directory + 2, linkAt = first + 12 * size_t{entries};
    const size_t end = std::min<size_t>(linkAt + 4, exif.size());
    size_t to = first;
    for (size_t entry = first; entry < linkAt; entry += 12) {
        if (std::binary_search(gone.begin(), gone.end(), entry))
            continue;
        memmove(exif.data() + to, exif.data() + entry, 12);
        to += 12;
    }
    if (to == linkAt)
        return;
    memmove(exif.data() + to, exif.data() + linkAt, end - linkAt);
    std::fill(exif.begin() + static_cast<ptrdiff_t>(to + end - linkAt), exif.begin() + static_cast<ptrdiff_t>(end), 0);
    t.Put16(directory, static_cast<uint32_t>((to - first) / 12));
}

// The block without its GPS directories (see DropGps). False when it
// cannot be walked with certainty: its links are more than a walk takes,
// two directories overlap, a GPS directory is also one the rest reads, or a
// GPS value lies in another directory's entries.
bool DropExifGps(std::vector<uint8_t>& exif, std::vector<std::string>& notes)
{
    Tiff t(exif.data(), exif.size());
    std::vector<LinkedDirectory> linked;
    uint32_t n;
    if (!t.Open() || !t.Directory(t.U32(4), n) || !LinkedDirectories(t, linked))
        return false;
    std::vector<Span> gps, structure = {{0, 8}};
    for (const LinkedDirectory& d : linked) {
        if ((d.reach & kGpsReach) != 0 && (d.reach & kKeptReach) != 0)
            return false;
        if ((d.reach & kGpsReach) != 0) {
            AddDirectorySpans(t, d.at, d.entries, gps);
            continue;
        }
        structure.push_back({d.at, std::min<uint64_t>(d.at + 2 + 12 * uint64_t{d.entries} + 4, t.Size())});
        for (uint32_t i = 0; i < d.entries; ++i) {
            const size_t entry = d.at + 2 + 12 * static_cast<size_t>(i);
            size_t at;
            uint64_t bytes;
            if (t.U16(entry) == kGpsDirectoryTag && t.ValuesOf(entry, at, bytes) && bytes > 4)
                gps.push_back({at, at + bytes});
        }
    }
    const size_t directories = structure.size() - 1;
    structure = Merged(std::move(structure));
    if (structure.size() != directories + 1)
        return false;  // two directories overlap, whose entries a removal would move under each other
    gps = Merged(std::move(gps));
    for (const Span& s : gps)
        if (Overlaps(s, structure))
            return false;
    // An entry whose values share bytes with a GPS value goes with it:
    // those bytes may be the position, whatever the entry calls them.
    std::vector<size_t> gone;
    std::vector<Span> kept = structure, shared;
    for (const LinkedDirectory& d : linked) {
        for (uint32_t i = 0; (d.reach & kGpsReach) == 0 && i < d.entries; ++i) {
            const size_t entry = d.at + 2 + 12 * static_cast<size_t>(i);
            size_t at;
            uint64_t bytes;
            const bool apart = t.ValuesOf(entry, at, bytes) && bytes > 4;
            if (t.U16(entry) == kGpsDirectoryTag) {
                gone.push_back(entry);
            } else if (apart && Overlaps({at, at + bytes}, gps)) {
                gone.push_back(entry);
                shared.push_back({at, at + bytes});
                notes.push_back("its EXIF " + ExifTagName(t.U16(entry)) +
                                " shares bytes with its GPS data and is left out (--strip gps)");
            } else if (apart) {
                kept.push_back({at, at + bytes});
            }
        }
        if ((d.reach & kByThumbnail) != 0)
            AddThumbnailSpans(t, d.at, d.entries, kept);
    }
    std::sort(gone.begin(), gone.end());
    kept = Merged(std::move(kept));
    for (const LinkedDirectory& d : linked)
        if ((d.reach & kGpsReach) == 0)
            RemoveEntries(t, exif, d.at, d.entries, gone);
    gps.insert(gps.end(), shared.begin(), shared.end());
    for (const Span& s : Merged(std::move(gps)))
        ZeroOutside(exif, s, kept);
    // What is left links no GPS directory by any path.
    if (!LinkedDirectories(t, linked))
        return false;
    return std::none_of(linked.begin(), linked.end(), [](const LinkedDirectory& d) { return (d.reach & kGpsReach) != 0; });
}

// ---- XMP as XML text ----

// The end of a name that begins at `at`: the first white space, '/', '>'
// or '=' (npos when none).
size_t NameEnd(const std::string& text, size_t at) { return text.find_first_of(" \t\r\n/>=", at); }

// Whether text[from, to) holds a word that names a position, in any case.
bool HoldsPositionWord(const std::string& text, size_t from, size_t to)
{
    std::string lower(text, from, to - from);
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* word : {"gps", "latitude", "longitude", "altitude"})
        if (lower.find(word) != std::string::npos)
            return true;
    return false;
}

// Whether the name text[at, end) is of a property that names a position:
// by its local name (past the prefix), whatever namespace the prefix, or
// none, binds. A namespace's binding is no property.
bool NamesPosition(const std::string& text, size_t at, size_t end)
{
    if (text.compare(at, end - at, "xmlns") == 0 || StartsAt(text, at, "xmlns:"))
        return false;
    size_t local = at;
    for (size_t i = at; i < end; ++i)
        if (text[i] == ':')
            local = i + 1;
    return HoldsPositionWord(text, local, end);
}

struct XmlAttribute {
    size_t from;             // the white space before it
    size_t nameAt, nameEnd;
    size_t end;              // past its closing quote
};

struct XmlTag {
    size_t nameAt = 0, nameEnd = 0;
    size_t end = 0;          // past its '>'
    bool closing = false;    // </name>
    bool empty = false;      // <name/>
    std::vector<XmlAttribute> attributes;
};

// Reads the start or end tag that begins at `open`; false when it is not
// one as XML writes it: a name, then for a start tag attributes each after
// white space, as name = "value" or 'value' with no '<' in the value.
bool ReadTag(const std::string& text, size_t open, XmlTag& tag)
{
    const size_t size = text.size();
    size_t at = open + 1;
    tag.closing = at < size && text[at] == '/';
    at += tag.closing ? 1 : 0;
    tag.nameAt = at;
    tag.nameEnd = NameEnd(text, at);
    if (tag.nameEnd == std::string::npos || tag.nameEnd == at)
        return false;
    tag.attributes.clear();
    for (at = tag.nameEnd;;) {
        const size_t from = at;
        while (at < size && IsSpace(text[at]))
            ++at;
        if (at == size)
            return false;
        if (text[at] == '>' || (text[at] == '/' && !tag.closing && at + 1 < size && text[at + 1] == '>')) {
            tag.empty = text[at] == '/';
            tag.end = at + (tag.empty ? 2 : 1);
            return true;
        }
        if (tag.closing || at == from)
            return false;
        XmlAttribute a = {from, at, NameEnd(text, at), 0};
        if (a.nameEnd == std::string::npos || a.nameEnd == at)
            return false;
        at = a.nameEnd;
        while (at < size && IsSpace(text[at]))
            ++at;
        if (at == size || text[at] != '=')
            return false;
        ++at;
        while (at < size && IsSpace(text[at]))
            ++at;
        if (at == size || (text[at] != '"' && text[at] != '\''))
            return false;
        const size_t close = text.find(text[at], at + 1);
        if (close == std::string::npos || memchr(text.data() + at, '<', close - at) != nullptr)
            return false;
        a.end = at = close + 1;
        tag.attributes.push_back(a);
    }
}

// The end of what begins at `at` and is no element: a comment, CDATA or a
// processing instruction; npos when it has no end. `at` itself for a tag.
size_t MarkupEnd(const std::string& text, size_t at)
{
    static const char* const kOpenClose[][2] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (const auto& pair : kOpenClose) {
        if (StartsAt(text, at, pair[0])) {
            const size_t end = text.find(pair[1], at + strlen(pair[0]));
            return end == std::string::npos ? end : end + strlen(pair[1]);
        }
    }
    return at;
}

// Past the end tag of the element whose start tag is `start`; npos when
// the elements within do not close in order before the text ends.
size_t ElementEnd(const std::string& text, const XmlTag& start)
{
    XmlTag tag;
    size_t at = start.end;
    for (int depth = 1;;) {
        const size_t open = text.find('<', at);
        if (open == std::string::npos || StartsAt(text, open, "<!DOCTYPE"))
            return std::string::npos;
        at = MarkupEnd(text, open);
        if (at == std::string::npos)
            return at;
        if (at != open)
            continue;
        if (!ReadTag(text, open, tag))
            return std::string::npos;
        at = tag.end;
        if (!tag.closing) {
            depth += tag.empty ? 0 : 1;
            continue;
        }
        if (--depth > 0)
            continue;
        const size_t length = start.nameEnd - start.nameAt;
        return tag.nameEnd - tag.nameAt == length && text.compare(tag.nameAt, length, text, start.nameAt, length) == 0
                   ? at
                   : std::string::npos;
    }
}

// Whether the name text[at, end) is of duotint's own namespace, or binds
// it: the prefix is the one duotint writes, which a packet that binds the
// namespace to another keeps from being read as a record.
bool NamesDuotint(const std::string& text, size_t at, size_t end)
{
    return StartsAt(text, at, kLookPrefix) || text.compare(at, end - at, "xmlns:duotint") == 0;
}

// The value of the attribute `a`, between its quotes.
std::string AttributeValue(const std::string& text, const XmlAttribute& a)
{
    const size_t quote = text.find_first_of("\"'", a.nameEnd);
    return text.substr(quote + 1, a.end - 1 - (quote + 1));
}

// The packet without the properties `cut` names (see DropGps and
// TakeLookFromXmp); false when it is not XML text this walk reads with
// certainty: UTF-16 or UTF-32, a tag or element that does not close, a
// document type (whose entities could spell a property no walk of the text
// sees), or for a position, a comment, CDATA or processing instruction that
// holds a position's word. `walked`, when given, learns the record's value
// and where a record would go in what is left.
bool CutXmp(XmpCut cut, std::vector<uint8_t>& xmp, XmpWalked* walked = nullptr)
{
    const auto cuts = [cut](const std::string& text, size_t at, size_t end) {
        return cut == XmpCut::position ? NamesPosition(text, at, end) : NamesDuotint(text, at, end);
    };
    const std::string text(xmp.begin(), xmp.end());
    if (text.find('\0') != std::string::npos)
        return false;
    std::string out;
    out.reserve(text.size());
    XmlTag tag;
    XmpWalked seen;
    size_t at = 0;
    for (size_t open; (open = text.find('<', at)) != std::string::npos;) {
        out.append(text, at, open - at);
        at = MarkupEnd(text, open);
        if (at == std::string::npos || (cut == XmpCut::position && HoldsPositionWord(text, open, at)))
            return false;
        if (at != open) {
            out.append(text, open, at - open);
            continue;
        }
        if (StartsAt(text, open, "<!") || !ReadTag(text, open, tag))
            return false;
        if (!tag.closing && cuts(text, tag.nameAt, tag.nameEnd)) {
            // The element with all it holds, and the white space before it.
            at = tag.empty ? tag.end : ElementEnd(text, tag);
            if (at == std::string::npos)
                return false;
            const size_t inner = text.find('<', tag.end);
            if (!tag.empty && text.compare(tag.nameAt, tag.nameEnd - tag.nameAt, kLookName) == 0 &&
                text.find('>', inner) + 1 == at)
                seen.look = text.substr(tag.end, inner - tag.end);  // plain text, no element in it
            out.erase(out.find_last_not_of(" \t\r\n") + 1);
            continue;
        }
        // The tag without the attributes cut, each with the white space
        // before it.
        const size_t tagAt = out.size();
        size_t from = open;
        for (const XmlAttribute& a : tag.attributes) {
            if (!cuts(text, a.nameAt, a.nameEnd))
                continue;
            if (text.compare(a.nameAt, a.nameEnd - a.nameAt, kLookName) == 0)
                seen.look = AttributeValue(text, a);
            out.append(text, from, a.from - from);
            from = a.end;
        }
        out.append(text, from, tag.end - from);
        at = tag.end;
        const std::string name(text, tag.nameAt, tag.nameEnd - tag.nameAt);
        if (!tag.closing && name == "rdf:Description" && seen.descriptionAt == std::string::npos)
            seen.descriptionAt = tagAt + tag.nameEnd - open;
        if (!tag.closing && !tag.empty && name == "rdf:RDF" && seen.rdfAt == std::string::npos)
            seen.rdfAt = out.size();
    }
    out.append(text, at, std::string::npos);
    xmp.assign(out.begin(), out.end());
    if (walked != nullptr)
        *walked = seen;
    return true;
}

bool DropXmpGps(std::vector<uint8_t>& xmp) { return CutXmp(XmpCut::position, xmp); }

// A PNG text chunk that holds EXIF or XMP as it stands in another file,
// which cannot be edited here, or whose keyword names a position.
bool HoldsPosition(const PngChunk& chunk)
{
    static const char* const kRaw[] = {"Raw profile type exif", "Raw profile type APP1", "Raw profile type xmp",
                                       kXmpKeyword};
    if (chunk.type == "pHYs")
        return false;
    const std::string keyword(chunk.data.begin(), std::find(chunk.data.begin(), chunk.data.end(), 0));
    return std::any_of(std::begin(kRaw), std::end(kRaw), [&](const char* k) { return keyword == k; }) ||
           HoldsPositionWord(keyword, 0, keyword.size());
}

void TakeLookFromXmp(PictureMetadata& metadata)
{
    std::vector<uint8_t> xmp = metadata.xmp;
    XmpWalked walked;
    if (xmp.empty() || !CutXmp(XmpCut::duotint, xmp, &walked))
        return;
    // A packet duotint made for its record alone goes with it.
    const std::string alone = XmpPacket("");
    if (std::string(xmp.begin(), xmp.end()) == alone)
        xmp.clear();
    metadata.xmp = std::move(xmp);
    if (metadata.look.empty() && IsLookRecord(walked.look))
        metadata.look = walked.look;
}

std::string XmpWithLook(const std::vector<uint8_t>& xmp, const std::string& look)
{
    std::vector<uint8_t> cut = xmp;
    XmpWalked walked;
    if (!CutXmp(XmpCut::duotint, cut, &walked))
        return "";
    std::string text(cut.begin(), cut.end());
    if (walked.descriptionAt != std::string::npos)
        return text.insert(walked.descriptionAt, LookAttributes(look));
    if (walked.rdfAt != std::string::npos)
        return text.insert(walked.rdfAt, "<rdf:Description rdf:about=\"\"" + LookAttributes(look) + "/>");
    return "";
}

}  // namespace

// Whether what a pass left holds nothing a second pass would take: a block
// whose own walk is no longer certain once its GPS data went, or still
// finds some, is not one that can be said to be without it.
bool ExifLeftWithoutGps(const std::vector<uint8_t>& exif)
{
    std::vector<uint8_t> again = exif;
    std::vector<std::string> notes;
    return DropExifGps(again, notes) && again == exif && notes.empty();
}

bool XmpLeftWithoutGps(const std::vector<uint8_t>& xmp)
{
    std::vector<uint8_t> again = xmp;
    return DropXmpGps(again) && again == xmp;
}

void DropGps(PictureMetadata& metadata)
{
    if (!metadata.exif.empty() &&
        (!DropExifGps(metadata.exif, metadata.notes) || !ExifLeftWithoutGps(metadata.exif))) {
        metadata.exif.clear();
        metadata.notes.push_back("its EXIF cannot be walked with certainty for its GPS data and is left out (--strip gps)");
    }
    if (!metadata.xmp.empty() && (!DropXmpGps(metadata.xmp) || !XmpLeftWithoutGps(metadata.xmp))) {
        metadata.xmp.clear();
        metadata.notes.push_back("its XMP cannot be read with certainty for its position and is left out (--strip gps)");
    }
    auto& extras = metadata.pngExtras;
    for (const PngChunk& chunk : extras)
        if (HoldsPosition(chunk))
            metadata.notes.push_back("its text chunk \"" +
                                     std::string(chunk.data.begin(), std::find(chunk.data.begin(), chunk.data.end(), 0)) +
                                     "\" may hold its position and is left out (--strip gps)");
    extras.erase(std::remove_if(extras.begin(), extras.end(), HoldsPosition),
                 extras.end());
}

// ---- Extended XMP ----------------------------------------------------------

namespace {

// Where a packet's rdf:RDF element stands, and the namespaces bound on it
// and on the elements before it (x:xmpmeta), each as written.
struct RdfElement {
    size_t nameEnd = 0;    // past its start tag's name
    size_t endTagAt = 0;   // where its end tag begins
    size_t contentAt = 0;  // past its start tag
    std::vector<std::string> bindings;
};

// The next start tag from `at` on, past comments, CDATA, processing
// instructions and end tags; `at` then stands past it. False at the
// text's end, and with `unreadable` where the walk cannot go on with
// certainty (a markup that does not close, a document type, a tag not
// as XML writes it).
bool NextStartTag(const std::string& text, size_t& at, XmlTag& tag, bool& unreadable)
{
    unreadable = false;
    for (size_t open; (open = text.find('<', at)) != std::string::npos;) {
        at = MarkupEnd(text, open);
        unreadable = at == std::string::npos || (at == open && (StartsAt(text, open, "<!") || !ReadTag(text, open, tag)));
        if (unreadable)
            return false;
        if (at != open)
            continue;
        at = tag.end;
        if (!tag.closing)
            return true;
    }
    return false;
}

// False when the text is not XML this walk reads with certainty, as
// DropXmpGps reads it, or has no rdf:RDF element with content.
bool FindRdf(const std::string& text, RdfElement& rdf)
{
    XmlTag tag;
    bool unreadable = false;
    for (size_t at = 0; NextStartTag(text, at, tag, unreadable);) {
        for (const XmlAttribute& a : tag.attributes)
            if (text.compare(a.nameAt, a.nameEnd - a.nameAt, "xmlns") == 0 || StartsAt(text, a.nameAt, "xmlns:"))
                rdf.bindings.push_back(text.substr(a.nameAt, a.end - a.nameAt));
        if (text.compare(tag.nameAt, tag.nameEnd - tag.nameAt, "rdf:RDF") != 0)
            continue;
        const size_t end = tag.empty ? std::string::npos : ElementEnd(text, tag);
        if (end == std::string::npos)
            return false;
        rdf.nameEnd = tag.nameEnd;
        rdf.contentAt = tag.end;
        rdf.endTagAt = text.rfind('<', end - 1);
        return true;
    }
    return false;
}

// A binding's prefix (with "xmlns") and its namespace.
std::string BoundName(const std::string& binding) { return binding.substr(0, binding.find_first_of(" \t\r\n=")); }
std::string BoundNamespace(const std::string& binding)
{
    const size_t quote = binding.find_first_of("\"'");
    return binding.substr(quote + 1, binding.size() - quote - 2);
}

// The one property HasExtendedXMP of the packet (an attribute, or an
// element of plain text), whatever its prefix: its value, and where it
// stands with the white space before it. False when there is none, or more.
bool FindExtensionName(const std::string& text, std::string& guid, size_t& from, size_t& to)
{
    auto named = [&](size_t at, size_t end) {
        const size_t colon = text.rfind(':', end - 1);
        const size_t local = colon == std::string::npos || colon < at ? at : colon + 1;
        return text.compare(local, end - local, "HasExtendedXMP") == 0;
    };
    XmlTag tag;
    int found = 0;
    bool unreadable = false;
    for (size_t at = 0; NextStartTag(text, at, tag, unreadable);) {
        for (const XmlAttribute& a : tag.attributes) {
            if (named(a.nameAt, a.nameEnd) && ++found == 1) {
                const size_t quote = text.find_first_of("\"'", a.nameEnd);
                guid = text.substr(quote + 1, a.end - quote - 2);
                from = a.from;
                to = a.end;
            }
        }
        if (tag.empty || !named(tag.nameAt, tag.nameEnd))
            continue;
        const size_t value = text.find('<', tag.end);
        to = ElementEnd(text, tag);
        if (++found > 1 || to == std::string::npos || !StartsAt(text, value, "</"))
            return false;
        guid = text.substr(tag.end, value - tag.end);
        from = text.find_last_not_of(" \t\r\n", tag.nameAt - 2) + 1;  // before its '<'
        at = to;
    }
    return found == 1 && !unreadable;
}

// The extension named `guid` from its parts: each the GUID, the whole's
// length and the part's offset in it (big-endian), then the part. Those
// of the GUID must all give one length, of at most kMostMetadataBytes, and
// cover it end to end, each byte once, in any order. `others` counts the
// parts that name another.
bool JoinedExtension(const std::vector<std::vector<uint8_t>>& parts, const std::string& guid, std::string& whole,
                     size_t& others)
{
    std::vector<std::pair<uint32_t, const std::vector<uint8_t>*>> named;  // by offset
    uint32_t length = 0;
    for (const std::vector<uint8_t>& part : parts) {
        if (part.size() < 40 || guid.size() != 32 || memcmp(part.data(), guid.data(), 32) != 0) {
            ++others;
            continue;
        }
        if (!named.empty() && ReadBig32(&part[32]) != length)
            return false;
        length = ReadBig32(&part[32]);
        named.emplace_back(ReadBig32(&part[36]), &part);
    }
    std::sort(named.begin(), named.end());
    uint64_t covered = 0;
    for (const auto& [offset, part] : named) {
        if (offset != covered)
            return false;
        covered += part->size() - 40;
    }
    if (named.empty() || covered != length || length > kMostMetadataBytes)
        return false;
    whole.clear();
    for (const auto& [offset, part] : named)
        whole.append(part->begin() + 40, part->end());
    return true;
}

// The packet with the extension's properties in it: the descriptions in
// the extension's rdf:RDF go at the end of the packet's, the namespaces
// bound around them bound on it, and HasExtendedXMP goes, since the
// extension is there no longer. False when either cannot be read with
// certainty, a prefix would be bound to two namespaces, or the whole would
// pass kMostMetadataBytes.
bool MergedXmp(std::vector<uint8_t>& xmp, const std::string& extension)
{
    const std::string packet(xmp.begin(), xmp.end());
    RdfElement into, from;
    std::string guid, bindings;
    size_t nameFrom, nameTo;
    if (!FindRdf(packet, into) || !FindRdf(extension, from) || !FindExtensionName(packet, guid, nameFrom, nameTo) ||
        nameFrom < into.contentAt || nameTo > into.endTagAt)
        return false;
    // Each prefix once, looked up (a hostile packet binds thousands); one
    // the packet binds to two namespaces binds none.
    std::map<std::string, std::string> bound;
    for (const std::string& binding : into.bindings) {
        const auto [at, added] = bound.emplace(BoundName(binding), BoundNamespace(binding));
        if (!added && at->second != BoundNamespace(binding))
            at->second = std::string(1, '\0');
    }
    for (const std::string& binding : from.bindings) {
        const auto [at, added] = bound.emplace(BoundName(binding), BoundNamespace(binding));
        // A default namespace would change what the packet's own unprefixed names mean.
        if (added && BoundName(binding) != "xmlns")
            bindings += " " + binding;
        else if (added || at->second != BoundNamespace(binding))
            return false;
    }
    const std::string merged = packet.substr(0, into.nameEnd) + bindings +
                               packet.substr(into.nameEnd, nameFrom - into.nameEnd) +
                               packet.substr(nameTo, into.endTagAt - nameTo) +
                               extension.substr(from.contentAt, from.endTagAt - from.contentAt) + packet.substr(into.endTagAt);
    if (merged.size() > kMostMetadataBytes)
        return false;
    xmp.assign(merged.begin(), merged.end());
    return true;
}

bool JoinExtendedXmp(PictureMetadata& metadata, const std::vector<std::vector<uint8_t>>& parts)
{
    if (parts.empty())
        return false;
    const std::string packet(metadata.xmp.begin(), metadata.xmp.end());
    std::string guid, whole;
    size_t from, to, others = 0;
    if (!FindExtensionName(packet, guid, from, to) || !JoinedExtension(parts, guid, whole, others) ||
        !MergedXmp(metadata.xmp, whole)) {
        metadata.notes.push_back("its XMP extension cannot be joined whole to its packet and is left out");
        return false;
    }
    if (others > 0)
        metadata.notes.push_back("its XMP extension segments that its packet does not name are left out");
    return true;
}

}  // namespace
