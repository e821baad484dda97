// The container probe: each kind's headers walked in the order they stand,
// one check per line, every length compared with what remains of the file
// before it is followed. Only headers are read; chunk, segment and block
// bodies are stepped over by their lengths, and nothing here allocates.
//
// Reading is bounded, so that no file, whatever its size or content, costs
// more than 64 MiB of reading: every read is charged the 4 KiB pages it
// touches. A walk that would need more stops there. A walk still looking for
// its picture's header then calls the file damaged (no real picture hides
// its header behind 64 MiB of other bytes); a walk that already has the
// header keeps it and leaves the rest unproven: a PNG whose IDAT bytes were
// not all summed is taken as long enough.
//
// After the headers, the file's length is held against the least its
// declared picture can be coded in (each kind's rule stands by its probe).
// That refuses the few hundred bytes that declare gigapixels before any
// decoder spends gigabytes on them; a file at or above the least passes.
#include "formats/probe.h"

#include <cstring>

#include "formats/bmp_header.h"
#include "formats/bytes.h"
#include "formats/container_walk.h"
#include "formats/metadata.h"
#include "formats/png_chunk.h"

namespace {

const uint64_t kPage = 4096;
const uint64_t kReadBudget = 64ull << 20;

// The file through a window of its bytes: a read is served from the window
// when it lies inside it, and otherwise loads it from the read's start to
// the end of its last page.
class Reader final : public ByteSource {
public:
    enum { kMost = 65536 + 2 };  // the longest read: a JPEG segment's length field and body

    explicit Reader(ByteSource& source) : source_(source), size_(source.Size()) {}

    uint64_t Size() const override { return size_; }
    // A copy of At's bytes, for the container walks.
    bool Read(uint64_t at, void* to, size_t count) override
    {
        const uint8_t* bytes = At(at, count);
        if (bytes == nullptr)
            return false;
        memcpy(to, bytes, count);
        return true;
    }
    bool Failed() const { return failed_; }
    bool Spent() const { return spent_; }

    // The count bytes at `at`, count <= kMost; null when they lie past the
    // end, the source failed, or the budget is spent.
    const uint8_t* At(uint64_t at, size_t count)
    {
        if (at > size_ || count > size_ - at || count > kMost)
            return nullptr;
        if (at >= windowAt_ && at - windowAt_ + count <= windowFill_)
            return window_ + (at - windowAt_);
        if (failed_ || spent_)
            return nullptr;
        uint64_t end = (at + count + kPage - 1) / kPage * kPage;
        if (end > size_)
            end = size_;
        if (end - at > sizeof window_)
            end = at + sizeof window_;
        const uint64_t pages = (end - 1) / kPage - at / kPage + 1;
        if (charged_ + pages * kPage > kReadBudget) {
            spent_ = true;
            return nullptr;
        }
        charged_ += pages * kPage;
        windowFill_ = 0;
        if (!source_.Read(at, window_, static_cast<size_t>(end - at))) {
            failed_ = true;
            return nullptr;
        }
        windowAt_ = at;
        windowFill_ = static_cast<size_t>(end - at);
        return window_;
    }

    // The offset of the first byte `value` at or after `at`; Size() when
    // there is none, or when the source failed or the budget ran out first.
    uint64_t Find(uint8_t value, uint64_t at)
    {
        while (at < size_) {
            const size_t count = size_ - at < kPage ? static_cast<size_t>(size_ - at) : kPage;
            const uint8_t* piece = At(at, count);
            if (piece == nullptr)
                return size_;
            const void* found = memchr(piece, value, count);
            if (found != nullptr)
                return at + static_cast<uint64_t>(static_cast<const uint8_t*>(found) - piece);
            at += count;
        }
        return size_;
    }

private:
    ByteSource& source_;
    uint64_t size_;
    uint64_t windowAt_ = 0;
    size_t windowFill_ = 0;
    uint64_t charged_ = 0;
    bool failed_ = false;
    bool spent_ = false;
    uint8_t window_[kMost + kPage];
};

// a * b, or the largest value when that overflows: a least size that large
// is more than any file holds, as the true product would be.
uint64_t Times(uint64_t a, uint64_t b)
{
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

ProbeResult Verdict(ContainerKind kind, ProbeVerdict verdict, ProbeClause clause)
{
    ProbeResult result;
    result.kind = kind;
    result.verdict = verdict;
    result.clause = clause;
    return result;
}

ProbeResult Damaged(ContainerKind kind, ProbeClause why) { return Verdict(kind, ProbeVerdict::damaged, why); }

ProbeResult Unsupported(ContainerKind kind, ProbeClause what) { return Verdict(kind, ProbeVerdict::unsupported, what); }

ProbeResult Fine(ContainerKind kind, int64_t width, int64_t height)
{
    ProbeResult result = Verdict(kind, ProbeVerdict::fine, ProbeClause::none);
    result.width = width;
    result.height = height;
    return result;
}

// A fine result, or damaged with its size kept when `held` bytes are fewer
// than `least`.
ProbeResult FineIfHolds(ContainerKind kind, int64_t width, int64_t height, uint64_t held, uint64_t least)
{
    ProbeResult result = Fine(kind, width, height);
    if (held < least) {
        result.verdict = ProbeVerdict::damaged;
        result.clause = ProbeClause::tooShortForPicture;
    }
    return result;
}

// ---- PNG ------------------------------------------------------------------

// Samples a pixel of a colour type; 0 for a type PNG does not have.
uint32_t PngChannels(uint32_t colourType)
{
    switch (colourType) {
    case 0: return 1;  // grey
    case 2: return 3;  // RGB
    case 3: return 1;  // palette
    case 4: return 2;  // grey and alpha
    case 6: return 4;  // RGBA
    default: return 0;
    }
}

bool PngDepthFitsColourType(uint32_t depth, uint32_t colourType)
{
    switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
    }
}

// The fewest IDAT bytes a PNG of this size can have. Its filtered rows are a
// filter byte and the row's packed samples each. They are one zlib stream,
// and deflate codes at most 258 bytes (its longest match) in 2 bits (the
// shortest length and distance codes), 1032 to 1. Interlacing only adds
// filter bytes and padding, so the plain rows are the least.
uint64_t PngLeastData(uint32_t width, uint32_t height, uint32_t depth, uint32_t colourType)
{
    const uint64_t rowBits = Times(Times(width, depth), PngChannels(colourType));
    const uint64_t filtered = Times(1 + (rowBits + 7) / 8, height);
    return filtered / 1032;
}

ProbeResult ProbePng(Reader& file)
{
    const ContainerKind png = ContainerKind::png;
    const uint64_t size = file.Size();
    // Signature, then IHDR's length, type, 13 bytes of fields and CRC.
    const uint8_t* head = file.At(0, 8 + 12 + 13);
    if (head == nullptr)
        return Damaged(png, ProbeClause::shortHeader);
    if (ReadBig32(head + 8) != 13 || memcmp(head + 12, "IHDR", 4) != 0)
        return Damaged(png, ProbeClause::pngNoHeaderChunk);
    const uint32_t width = ReadBig32(head + 16);
    const uint32_t height = ReadBig32(head + 20);
    const uint32_t depth = head[24], colourType = head[25];
    if (width == 0 || height == 0)
        return Damaged(png, ProbeClause::zeroSize);
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return Damaged(png, ProbeClause::pngSizeOver31Bits);
    if (!PngDepthFitsColourType(depth, colourType))
        return Damaged(png, ProbeClause::pngDepthNotOfColourType);
    const uint64_t least = PngLeastData(width, height, depth, colourType);
    // The walk goes on past the first IDAT to sum them all, until the sum
    // reaches the least or IEND stands; what lies past the end counts as
    // far as the file holds it.
    uint64_t idat = 0;
    bool seenIdat = false;
    PngChunkWalk walk(file);
    PngChunkHead chunk;
    while (walk.Next(chunk)) {
        const bool isIdat = IsChunk(chunk, "IDAT");
        if (!chunk.whole) {
            if (!seenIdat)
                return Damaged(png, ProbeClause::chunkPastEnd);
            if (isIdat)
                idat += size - chunk.at - 12;
            break;
        }
        if (isIdat) {
            seenIdat = true;
            idat += chunk.length;
            if (idat >= least)
                break;
        }
    }
    if (!seenIdat)
        return Damaged(png, walk.Cut() ? ProbeClause::chunkPastEnd : ProbeClause::pngNoData);
    if (file.Spent())
        return Fine(png, width, height);
    return FineIfHolds(png, width, height, idat, least);
}

// ---- JPEG -----------------------------------------------------------------

// What the segments before the scan declare.
struct JpegHeaders {
    ProbeClause damage = ProbeClause::none;  // why the walk stopped before the scan
    bool frame = false;
    uint32_t frameMarker = 0, precision = 0, height = 0, width = 0;
    uint64_t blocks = 0;    // 8 x 8 blocks of all components together
    uint64_t scanAt = 0;    // where the scan's coded data begins
    int orientation = 1;
};

bool IsFrameMarker(uint32_t marker)
{
    // SOF0 to SOF15 but for DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The 8 x 8 blocks a frame's components cover: component i is the frame's
// size scaled by its sampling factors over the largest ones, rounded up,
// then cut into blocks. An interleaved scan pads components to whole MCUs,
// which only adds blocks, so these are the least any scan codes.
uint64_t FrameBlocks(const uint8_t* components, uint32_t count, uint32_t width, uint32_t height)
{
    uint32_t hMax = 0, vMax = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t h = components[3 * i + 1] >> 4, v = components[3 * i + 1] & 15;
        hMax = h > hMax ? h : hMax;
        vMax = v > vMax ? v : vMax;
    }
    if (hMax == 0 || vMax == 0)
        return 0;
    uint64_t blocks = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t h = components[3 * i + 1] >> 4, v = components[3 * i + 1] & 15;
        const uint64_t x = (width * h + hMax - 1) / hMax, y = (height * v + vMax - 1) / vMax;
        blocks += ((x + 7) / 8) * ((y + 7) / 8);
    }
    return blocks;
}

ProbeClause JpegWalkDamage(JpegWalkEnd end, bool frame)
{
    switch (end) {
    case JpegWalkEnd::secondStart: return ProbeClause::jpegSecondStart;
    case JpegWalkEnd::shortSegment: return ProbeClause::segmentShorterThanLength;
    case JpegWalkEnd::pastEnd: return ProbeClause::segmentPastEnd;
    case JpegWalkEnd::tooMany: return ProbeClause::jpegTooManySegments;
    default: return frame ? ProbeClause::jpegEndsBeforeData : ProbeClause::jpegEndsBeforeFrame;
    }
}

JpegHeaders ReadJpegHeaders(Reader& file)
{
    JpegHeaders headers;
    bool exifSeen = false;
    JpegSegmentWalk walk(file);
    JpegSegment segment;
    while (walk.Next(segment)) {
        if (segment.marker == 0xDA) {
            if (!headers.frame)
                headers.damage = ProbeClause::jpegScanBeforeFrame;
            headers.scanAt = segment.bodyAt + segment.bodySize;
            return headers;
        }
        const bool frame = IsFrameMarker(segment.marker) && !headers.frame;
        const bool exif = segment.marker == 0xE1 && !exifSeen && segment.bodySize >= 6;
        if (!frame && !exif)
            continue;
        const size_t bodySize = segment.bodySize;
        const uint8_t* body = file.At(segment.bodyAt, bodySize);
        if (body == nullptr) {
            headers.damage = ProbeClause::segmentPastEnd;
            return headers;
        }
        if (frame) {
            // Precision, height, width, the component count, then 3 bytes a component.
            if (bodySize < 6 || bodySize < 6 + 3 * static_cast<size_t>(body[5])) {
                headers.damage = ProbeClause::jpegFrameShorterThanFields;
                return headers;
            }
            headers.frame = true;
            headers.frameMarker = segment.marker;
            headers.precision = body[0];
            headers.height = ReadBig16(body + 1);
            headers.width = ReadBig16(body + 3);
            headers.blocks = FrameBlocks(body + 6, body[5], headers.width, headers.height);
        }
        if (exif && memcmp(body, "Exif\0\0", 6) == 0) {
            exifSeen = true;
            headers.orientation = ExifOrientation(body + 6, bodySize - 6);
        }
    }
    headers.damage = JpegWalkDamage(walk.End(), headers.frame);
    return headers;
}

// The fewest bits a frame's coded scans can take, from its 8 x 8 blocks.
// Huffman codes are at least 1 bit long. A sequential frame codes each
// block once: its DC difference (a code) and at least the end-of-block code,
// 2 bits. A progressive frame's first DC scan codes each block's DC
// difference, 1 bit; its AC scans may run end-of-blocks over thousands of
// blocks at once, so they add nothing sure. Arithmetic coding and the
// hierarchical processes give no sound least: 0.
uint64_t JpegLeastBits(uint32_t frameMarker, uint64_t blocks)
{
    switch (frameMarker) {
    case 0xC0: case 0xC1: return 2 * blocks;  // baseline and extended sequential, Huffman
    case 0xC2: return blocks;                 // progressive, Huffman
    default: return 0;
    }
}

ProbeResult ProbeJpeg(Reader& file)
{
    const ContainerKind jpeg = ContainerKind::jpeg;
    const JpegHeaders headers = ReadJpegHeaders(file);
    ProbeResult result;
    if (headers.damage != ProbeClause::none)
        result = Damaged(jpeg, headers.damage);
    else if ((headers.frameMarker & 3) == 3)  // SOF3, 7, 11 and 15: the lossless processes
        result = Unsupported(jpeg, ProbeClause::jpegLossless);
    else if (headers.precision == 12)
        result = Unsupported(jpeg, ProbeClause::jpeg12Bit);
    else if (headers.precision == 16)
        result = Unsupported(jpeg, ProbeClause::jpeg16Bit);
    else if (headers.precision != 8)
        result = Damaged(jpeg, ProbeClause::jpegPrecision);
    else if (headers.width == 0 || headers.height == 0)
        result = Damaged(jpeg, ProbeClause::zeroSize);
    else
        result = FineIfHolds(jpeg, headers.width, headers.height, file.Size() - headers.scanAt,
                             JpegLeastBits(headers.frameMarker, headers.blocks) / 8);
    result.orientation = headers.orientation;
    return result;
}

// ---- GIF ------------------------------------------------------------------

// A colour table of 2^(n+1) entries of 3 bytes follows when a flags byte's
// top bit is set; `at` steps over it.
bool SkipColourTable(uint32_t flags, uint64_t size, uint64_t& at)
{
    if ((flags & 0x80) == 0)
        return true;
    const uint64_t table = 3 * (static_cast<uint64_t>(2) << (flags & 7));
    if (table > size - at)
        return false;
    at += table;
    return true;
}

// The fewest bytes of LZW data a frame of `pixels` can have. A code of w
// bits stands for at most one string more than the codes below 2^w that
// came before it, so a string of L pixels needs a code of at least
// log2(L + 3) bits; codes stop at 12 bits, and the longest string is then
// 4093 pixels: at most 4093 / 12 x 8 = 2728.7 pixels a byte.
uint64_t GifLeastData(uint64_t pixels) { return pixels / 2729; }

ProbeResult ProbeGif(Reader& file)
{
    const ContainerKind gif = ContainerKind::gif;
    const uint64_t size = file.Size();
    // Signature 6, then the logical screen: width, height, flags, background, aspect.
    const uint8_t* head = file.At(0, 13);
    if (head == nullptr)
        return Damaged(gif, ProbeClause::shortHeader);
    const uint32_t screenWidth = Read16(head + 6);
    const uint32_t screenHeight = Read16(head + 8);
    uint64_t at = 13;
    if (!SkipColourTable(head[10], size, at))
        return Damaged(gif, ProbeClause::colourTablePastEnd);
    while (at < size) {
        const uint8_t* block = file.At(at, 1);
        if (block == nullptr)
            break;
        if (*block == 0x3B)
            break;  // the trailer
        if (*block == 0x2C) {
            // Separator, left, top, width, height, flags.
            const uint8_t* frame = file.At(at, 10);
            if (frame == nullptr)
                return Damaged(gif, ProbeClause::gifFrameHeaderPastEnd);
            const uint64_t frameWidth = Read16(frame + 5), frameHeight = Read16(frame + 7);
            const int64_t right = static_cast<int64_t>(Read16(frame + 1) + frameWidth);
            const int64_t bottom = static_cast<int64_t>(Read16(frame + 3) + frameHeight);
            const uint32_t flags = frame[9];
            at += 10;
            if (!SkipColourTable(flags, size, at))
                return Damaged(gif, ProbeClause::colourTablePastEnd);
            // A frame may stand partly outside the screen; decoders widen the picture to hold it.
            const int64_t width = right > screenWidth ? right : screenWidth;
            const int64_t height = bottom > screenHeight ? bottom : screenHeight;
            if (width == 0 || height == 0)
                return Damaged(gif, ProbeClause::zeroSize);
            // Only the frame's own pixels must be coded; the rest of the
            // screen is background, which costs no bytes.
            return FineIfHolds(gif, width, height, size - at, GifLeastData(frameWidth * frameHeight));
        }
        if (*block != 0x21)
            return Damaged(gif, ProbeClause::gifBlockOfNoKind);
        // Introducer and label, then sub-blocks of a length byte and that
        // many bytes, until a length of 0.
        at += 2;
        for (;;) {
            const uint8_t* length = file.At(at, 1);
            if (length == nullptr)
                return Damaged(gif, ProbeClause::gifExtensionPastEnd);
            at += 1 + *length;
            if (*length == 0)
                break;
        }
    }
    return Damaged(gif, ProbeClause::gifNoFrames);
}

// ---- TIFF -----------------------------------------------------------------

// How many times smaller than its samples a TIFF's data can be coded, by
// compression tag; 0 where there is no sound bound. PackBits codes at most
// 128 bytes in 2; deflate at most 1032 to 1 (see PngLeastData); LZW codes
// of at most 12 bits over 258 fixed codes stand for at most 3839 bytes,
// 2559.3 a byte. CCITT fax codes a blank row in a few bits and JPEG's
// scans vary too much.
uint64_t TiffPackingRatio(uint32_t compression)
{
    switch (compression) {
    case 1: return 1;  // none
    case 32773: return 64;
    case 8: case 32946: return 1032;
    case 5: return 2560;
    default: return 0;
    }
}

ProbeResult ProbeTiff(Reader& reader)
{
    const ContainerKind tiff = ContainerKind::tiff;
    TiffWalk file(reader);
    if (!file.Open())
        return Damaged(tiff, ProbeClause::shortHeader);
    const uint64_t directory = file.U32(4);
    uint32_t entries = 0;
    if (!file.Directory(directory, entries))
        return Damaged(tiff, ProbeClause::tiffDirectoryPastEnd);
    // A tag that is absent, or neither SHORT nor LONG, leaves its default.
    uint32_t width = 0, height = 0, sampleFormat = 1, bits = 1, compression = 1;
    int orientation = 1;
    bool turnRead = false;
    for (uint32_t i = 0; i < entries; ++i) {
        TiffEntry entry;
        if (!file.Entry(directory, i, entry))
            return Damaged(tiff, ProbeClause::tiffDirectoryPastEnd);
        // The TIFF's own Orientation, by the rule an EXIF block's takes: the
        // first such entry whose values all lie inside the file.
        if (entry.tag == 274 && !turnRead && file.ValuesInside(entry)) {
            uint32_t first = 0;
            if (!file.FirstNumber(entry, first))
                return Damaged(tiff, ProbeClause::tiffValuesPastEnd);
            orientation = TiffOrientation(entry.type, entry.count, first);
            turnRead = true;
            continue;
        }
        uint32_t* value = nullptr;
        switch (entry.tag) {
        case 256: value = &width; break;
        case 257: value = &height; break;
        case 258: value = &bits; break;
        case 259: value = &compression; break;
        case 339: value = &sampleFormat; break;
        default: continue;
        }
        if (!file.FirstNumber(entry, *value))
            return Damaged(tiff, ProbeClause::tiffValuesPastEnd);
    }
    if (width == 0 || height == 0)
        return Damaged(tiff, ProbeClause::tiffNoSize);
    if (bits == 0)
        return Damaged(tiff, ProbeClause::tiffZeroBits);
    if (sampleFormat == 3)
        return Unsupported(tiff, ProbeClause::tiffFloat);
    // Every row of the first sample, whether in strips, tiles or planes,
    // must be coded somewhere in the file. The first sample alone: samples
    // may differ in bits, and chroma may be subsampled.
    const uint64_t ratio = TiffPackingRatio(compression);
    const uint64_t samples = Times((Times(width, bits) + 7) / 8, height);
    ProbeResult result = FineIfHolds(tiff, width, height, reader.Size(), ratio == 0 ? 0 : samples / ratio);
    result.orientation = orientation;
    return result;
}

// ---- WebP -----------------------------------------------------------------

// The picture's size stands in the first chunk: a VP8X chunk's canvas, or
// the frame header of a lossy (VP8) or lossless (VP8L) picture alone. Both
// codings can squeeze a flat picture into a few bytes, so no least size
// holds; the file is too short when the chunk that holds the picture runs
// past its end, or the RIFF container declares more than the file holds.
ProbeResult ProbeWebp(Reader& file)
{
    const ContainerKind webp = ContainerKind::webp;
    RiffChunkWalk walk(file);
    RiffChunkHead chunk;
    if (!walk.Next(chunk))
        return Damaged(webp, ProbeClause::shortHeader);
    int64_t width = 0, height = 0;
    if (IsChunk(chunk, "VP8X")) {
        // Flags, 3 reserved bytes, then the canvas's width and height less 1, 24 bits each.
        const uint8_t* h = chunk.size >= 10 ? file.At(chunk.at + 8, 10) : nullptr;
        if (h == nullptr)
            return Damaged(webp, ProbeClause::shortHeader);
        width = 1 + (Read32(h + 4) & 0xFFFFFF);
        height = 1 + (Read32(h + 6) >> 8);
        // A still's ALPH and VP8 or VP8L, or an animation's frames, follow
        // any number of other chunks.
        while (walk.Next(chunk) && chunk.whole && !IsChunk(chunk, "VP8 ") && !IsChunk(chunk, "VP8L") &&
               !IsChunk(chunk, "ANMF")) {
        }
        if (!IsChunk(chunk, "VP8 ") && !IsChunk(chunk, "VP8L") && !IsChunk(chunk, "ANMF") && chunk.whole &&
            !walk.FileShorterThanDeclared())
            return Damaged(webp, ProbeClause::webpNoPictureAfterExtended);
    } else if (IsChunk(chunk, "VP8 ")) {
        // A 3-byte frame tag, the start code, then 14 bits of width and of
        // height, each with 2 bits of scaling above.
        const uint8_t* h = chunk.size >= 10 ? file.At(chunk.at + 8, 10) : nullptr;
        if (h == nullptr)
            return Damaged(webp, ProbeClause::shortHeader);
        if ((h[0] & 1) != 0)
            return Damaged(webp, ProbeClause::webpNotKeyFrame);
        if (memcmp(h + 3, "\x9D\x01\x2A", 3) != 0)
            return Damaged(webp, ProbeClause::webpNoStartCode);
        width = Read16(h + 6) & 0x3FFF;
        height = Read16(h + 8) & 0x3FFF;
    } else if (IsChunk(chunk, "VP8L")) {
        // The signature byte, then width and height less 1 in 14 bits each,
        // an alpha bit and a 3-bit version.
        const uint8_t* h = chunk.size >= 5 ? file.At(chunk.at + 8, 5) : nullptr;
        if (h == nullptr)
            return Damaged(webp, ProbeClause::shortHeader);
        if (h[0] != 0x2F)
            return Damaged(webp, ProbeClause::webpNoLosslessSignature);
        const uint32_t bits = Read32(h + 1);
        if (bits >> 29 != 0)
            return Damaged(webp, ProbeClause::webpLosslessVersion);
        width = 1 + (bits & 0x3FFF);
        height = 1 + (bits >> 14 & 0x3FFF);
    } else {
        return Damaged(webp, ProbeClause::webpNoPictureChunk);
    }
    if (width == 0 || height == 0)
        return Damaged(webp, ProbeClause::zeroSize);
    return FineIfHolds(webp, width, height, chunk.whole && !walk.FileShorterThanDeclared() ? 1 : 0, 1);
}

// ---- HEIF (HEIC, AVIF) ----------------------------------------------------

// The brands that make an ISO base media file one of the still pictures
// libheif reads: HEVC-coded (heic, heix, heim, heis and their sequences),
// AV1-coded (avif, avis), or any picture items (mif1, msf1).
bool HeifBrand(const uint8_t* brand)
{
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                          "avif", "avis", "mif1", "msf1"};
    for (const char* known : kBrands)
        if (memcmp(brand, known, 4) == 0)
            return true;
    return false;
}

// The codings libheif is built to read here: HEVC and AV1 pictures, and
// the pictures made of others (a grid of tiles, an overlay, a turned copy).
bool HeifCodingRead(const uint8_t* type)
{
    static const char* const kTypes[] = {"hvc1", "av01", "grid", "iovl", "iden"};
    for (const char* known : kTypes)
        if (memcmp(type, known, 4) == 0)
            return true;
    return false;
}

ProbeClause HeifClause(HeifDamage damage)
{
    switch (damage) {
    case HeifDamage::boxPastEnd: return ProbeClause::boxPastEnd;
    case HeifDamage::fieldsPastEnd: return ProbeClause::boxFieldsPastEnd;
    case HeifDamage::locationFieldSize: return ProbeClause::heifLocationFieldSize;
    default: return ProbeClause::heifLocationVersion;
    }
}

ProbeResult ProbeHeif(Reader& file)
{
    const ContainerKind heif = ContainerKind::heif;
    const uint64_t size = file.Size();
    IsoBoxWalk top(file, 0, size);
    IsoBoxHead box;
    // ftyp: the major brand, a minor version, then compatible brands.
    if (!top.Next(box) || !IsBox(box, "ftyp") || !box.whole || box.bodySize < 8)
        return Damaged(heif, ProbeClause::shortHeader);
    bool branded = false;
    for (uint64_t at = 0; at + 4 <= box.bodySize && !branded; at += at == 0 ? 8 : 4) {
        const uint8_t* brand = file.At(box.bodyAt + at, 4);
        if (brand == nullptr)
            break;
        branded = HeifBrand(brand);
    }
    if (!branded)
        return ProbeResult();  // another ISO file (a video, say): the platform may know it

    bool metaSeen = false;
    while (!metaSeen && top.Next(box)) {
        if (!box.whole)
            return Damaged(heif, ProbeClause::boxPastEnd);
        metaSeen = IsBox(box, "meta");
    }
    if (!metaSeen)
        return Damaged(heif, ProbeClause::heifNoMeta);
    HeifMeta meta;
    ReadHeifMeta(file, box, meta);
    if (meta.damage != HeifDamage::none)
        return Damaged(heif, HeifClause(meta.damage));
    if (meta.primary == 0 || !meta.hasIinf || !meta.hasIloc || !meta.hasIpco)
        return Damaged(heif, ProbeClause::heifNoPrimary);
    if (meta.primaryType[0] != 0 && !HeifCodingRead(meta.primaryType))
        return Unsupported(heif, ProbeClause::heifCoding);
    // Every item's data in this file must lie inside it; a length of 0 runs to its end.
    bool cut = false;
    HeifExtentWalk extents(file, meta.iloc);
    HeifExtent extent;
    while (extents.Next(extent))
        cut = cut || (extent.inFile && (extent.overflows || extent.at > size || extent.length > size - extent.at));
    if (extents.Damage() != HeifDamage::none)
        return Damaged(heif, HeifClause(extents.Damage()));
    // ispe: version, flags, then the width and height in 32 bits each.
    int64_t width = -1, height = -1;
    IsoBoxWalk properties(file, meta.ipco.bodyAt, meta.ipco.bodyAt + meta.ipco.bodySize);
    for (uint32_t index = 1; width < 0 && index < 32768 && properties.Next(box); ++index) {
        if (!box.whole)
            return Damaged(heif, ProbeClause::boxPastEnd);
        if (!IsBox(box, "ispe") || !meta.primaryProperties[index])
            continue;
        BoxFields f(file, box);
        f.Take(4);
        width = static_cast<int64_t>(f.Take(4));
        height = static_cast<int64_t>(f.Take(4));
        if (f.Failed())
            return Damaged(heif, ProbeClause::boxFieldsPastEnd);
    }
    if (width < 0)
        return Damaged(heif, ProbeClause::heifNoSize);
    if (width == 0 || height == 0)
        return Damaged(heif, ProbeClause::zeroSize);
    // A box after the meta box that runs past the end (the media data, as
    // a rule) is the file cut short, as an item's data past it is.
    while (!cut && top.Next(box))
        cut = !box.whole;
    return FineIfHolds(heif, width, height, cut ? 0 : 1, 1);
}

// ---- BMP ------------------------------------------------------------------

// The info header sizes BMP files have: OS/2's 12 and 16 to 64, Windows' 40
// (V3), 52 and 56 (V3 with masks), 108 (V4) and 124 (V5).
bool KnownInfoSize(uint32_t infoSize)
{
    return infoSize == 12 || (infoSize >= 16 && infoSize <= 64) || infoSize == 108 || infoSize == 124;
}

bool WindowsInfoSize(uint32_t infoSize)
{
    return infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
}

bool BmpBitCount(uint32_t bits)
{
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

// The fewest bytes of pixels a BMP can have, by its compression; 0 where
// there is no sound bound. Uncompressed rows (bit fields too) are stored
// whole, each padded to 4 bytes. RLE8, RLE4 and OS/2's RLE24 take at least
// 2 bytes for a run of up to 255 pixels. OS/2's Huffman coding is a fax
// code, which codes a blank row in a few bits.
uint64_t BmpLeastPixels(uint32_t infoSize, uint32_t compression, uint32_t bits, uint64_t width, uint64_t height)
{
    const bool windows = WindowsInfoSize(infoSize);
    if (compression == 0 || (windows && (compression == 3 || compression == 6)))
        return Times((Times(width, bits) + 31) / 32 * 4, height);
    if (compression == 1 || compression == 2 || (!windows && compression == 4))
        return 2 * (Times(width, height) / 255);
    return 0;
}

ProbeResult ProbeBmp(Reader& file)
{
    const ContainerKind bmp = ContainerKind::bmp;
    const uint64_t size = file.Size();
    // The 14-byte file header, then an info header that begins with its own size.
    const uint8_t* head = file.At(0, 18);
    if (head == nullptr)
        return Damaged(bmp, ProbeClause::shortHeader);
    const BmpHeaderFields start = ReadBmpHeaderFields(head, 18);
    const uint32_t dataOffset = start.dataOffset, infoSize = start.infoSize;
    if (!KnownInfoSize(infoSize))
        return Damaged(bmp, ProbeClause::bmpHeaderSize);
    const uint8_t* h = file.At(0, 14 + infoSize);
    if (h == nullptr)
        return Damaged(bmp, ProbeClause::shortHeader);
    if (dataOffset < 14 + infoSize)
        return Damaged(bmp, ProbeClause::bmpPixelsInHeader);
    // OS/2 1.x's header has unsigned 16-bit width and height and is never
    // compressed; a header too short for a compression has none.
    const BmpHeaderFields fields = ReadBmpHeaderFields(h, 14 + infoSize);
    int64_t width = fields.width, height = fields.height;
    const uint32_t compression = fields.compression, bits = fields.bitsPerPixel;
    if (width < 1)
        return Damaged(bmp, ProbeClause::bmpWidthUnder1);
    if (height == 0)
        return Damaged(bmp, ProbeClause::zeroSize);
    // height < 0: rows are stored top-down; INT_MIN has no row count.
    if (height == INT32_MIN)
        return Damaged(bmp, ProbeClause::bmpHeightIntMin);
    // Compressions 4 and 5 are JPEG and PNG in Windows headers only; in
    // OS/2's, 4 is RLE24, which is left to the decoder.
    if (WindowsInfoSize(infoSize) && compression == 4)
        return Unsupported(bmp, ProbeClause::bmpJpeg);
    if (WindowsInfoSize(infoSize) && compression == 5)
        return Unsupported(bmp, ProbeClause::bmpPng);
    if (!BmpBitCount(bits))
        return Damaged(bmp, ProbeClause::bmpBitCount);
    if (height < 0)
        height = -height;
    // The pixels follow the headers; the offset is not trusted to say more.
    const uint64_t least = BmpLeastPixels(infoSize, compression, bits, width, height);
    return FineIfHolds(bmp, width, height, size - 14 - infoSize, least);
}

ProbeResult ProbeKnownKinds(Reader& file)
{
    uint8_t head[12] = {};
    const uint64_t size = file.Size();
    const uint8_t* start = file.At(0, size < sizeof head ? static_cast<size_t>(size) : sizeof head);
    if (start == nullptr)
        return ProbeResult();
    memcpy(head, start, size < sizeof head ? static_cast<size_t>(size) : sizeof head);
    if (size >= 8 && memcmp(head, kPngSignature, 8) == 0)
        return ProbePng(file);
    if (size >= 2 && memcmp(head, "\xFF\xD8", 2) == 0)
        return ProbeJpeg(file);
    if (size >= 6 && (memcmp(head, "GIF87a", 6) == 0 || memcmp(head, "GIF89a", 6) == 0))
        return ProbeGif(file);
    if (size >= 4 && (memcmp(head, "II*\0", 4) == 0 || memcmp(head, "MM\0*", 4) == 0))
        return ProbeTiff(file);
    if (size >= 2 && memcmp(head, "BM", 2) == 0)
        return ProbeBmp(file);
    if (size >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WEBP", 4) == 0)
        return ProbeWebp(file);
    if (size >= 12 && memcmp(head + 4, "ftyp", 4) == 0)
        return ProbeHeif(file);
    return ProbeResult();
}

}  // namespace

ProbeResult ProbeContainer(ByteSource& source)
{
    Reader file(source);
    ProbeResult result = ProbeKnownKinds(file);
    // A failed read decides over whatever the bytes seemed to say: they
    // were not all there to say it.
    if (file.Failed()) {
        const ContainerKind kind = result.kind;
        result = Verdict(kind, ProbeVerdict::unreadable, ProbeClause::none);
    } else if (file.Spent() && result.verdict == ProbeVerdict::damaged &&
               result.clause != ProbeClause::tooShortForPicture) {
        result.clause = ProbeClause::budgetSpent;
    }
    return result;
}

ProbeResult ProbeContainer(const uint8_t* bytes, size_t size)
{
    MemorySource source(bytes, size);
    return ProbeContainer(source);
}

int JpegExifOrientation(const uint8_t* bytes, size_t size)
{
    if (size < 2 || memcmp(bytes, "\xFF\xD8", 2) != 0)
        return 1;
    MemorySource source(bytes, size);
    Reader file(source);
    return ReadJpegHeaders(file).orientation;
}
