// The container probe: each kind's headers walked in the order they stand,
// one check per line, every length compared with what remains of the file
// before it is followed. Only headers are read; chunk, segment and block
// bodies are stepped over by their lengths, so a probe takes microseconds
// whatever the file's size, and nothing here allocates.
#include "image/probe.h"

#include <cstring>

#include "image/bytes.h"

namespace {

uint32_t Big16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

uint32_t Big32(const uint8_t* p) { return Big16(p) << 16 | Big16(p + 2); }

bool Begins(const uint8_t* bytes, size_t size, const char* signature, size_t length)
{
    return size >= length && memcmp(bytes, signature, length) == 0;
}

ProbeResult Verdict(ContainerKind kind, ProbeVerdict verdict, const char* what)
{
    ProbeResult result;
    result.kind = kind;
    result.verdict = verdict;
    result.what = what;
    return result;
}

ProbeResult Damaged(ContainerKind kind, const char* why) { return Verdict(kind, ProbeVerdict::damaged, why); }

ProbeResult Unsupported(ContainerKind kind, const char* what) { return Verdict(kind, ProbeVerdict::unsupported, what); }

ProbeResult Fine(ContainerKind kind, int64_t width, int64_t height)
{
    ProbeResult result = Verdict(kind, ProbeVerdict::fine, "");
    result.width = width;
    result.height = height;
    return result;
}

const char kShortHeader[] = "the file is shorter than its header";
const char kZeroSize[] = "it declares a width or height of 0";

// ---- TIFF directories, for TIFF files and the EXIF block of a JPEG --------

struct Tiff {
    const uint8_t* bytes;
    size_t size;
    bool little;

    uint32_t U16(size_t at) const { return little ? Read16(bytes + at) : Big16(bytes + at); }
    uint32_t U32(size_t at) const { return little ? Read32(bytes + at) : Big32(bytes + at); }
};

// The byte order mark and 42 that begin every TIFF header.
bool OpenTiff(const uint8_t* bytes, size_t size, Tiff& tiff)
{
    if (size < 8)
        return false;
    if (memcmp(bytes, "II*\0", 4) != 0 && memcmp(bytes, "MM\0*", 4) != 0)
        return false;
    tiff = {bytes, size, bytes[0] == 'I'};
    return true;
}

// The first directory's offset and its entry count, when its count and its
// 12-byte entries lie inside the bytes.
bool FirstDirectory(const Tiff& tiff, size_t& directory, uint32_t& entries)
{
    directory = tiff.U32(4);
    if (directory > tiff.size - 2)
        return false;
    entries = tiff.U16(directory);
    return entries <= (tiff.size - directory - 2) / 12;
}

// Takes into `value` the first value of a SHORT or LONG entry: from the
// entry itself when all its values fit in 4 bytes, else from the offset the
// entry holds. Other types and empty entries leave `value` as it was; false
// when the values lie past the end of the bytes.
bool ReadFirstValue(const Tiff& tiff, size_t entry, uint32_t& value)
{
    const uint32_t type = tiff.U16(entry + 2);
    const uint64_t count = tiff.U32(entry + 4);
    if (type != 3 && type != 4)
        return true;
    if (count == 0)
        return true;
    const uint64_t width = type == 3 ? 2 : 4;
    size_t at = entry + 8;
    if (count * width > 4) {
        at = tiff.U32(entry + 8);
        if (at > tiff.size || width > tiff.size - at)
            return false;
    }
    value = type == 3 ? tiff.U16(at) : tiff.U32(at);
    return true;
}

// The orientation tag (274, a SHORT) of the first directory of an EXIF block.
int ExifOrientation(const uint8_t* bytes, size_t size)
{
    Tiff tiff;
    size_t directory = 0;
    uint32_t entries = 0;
    if (!OpenTiff(bytes, size, tiff))
        return 1;
    if (!FirstDirectory(tiff, directory, entries))
        return 1;
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + 12 * static_cast<size_t>(i);
        if (tiff.U16(entry) != 274 || tiff.U16(entry + 2) != 3)
            continue;
        const uint32_t value = tiff.U16(entry + 8);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

// ---- PNG ------------------------------------------------------------------

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool PngDepthFitsColourType(uint32_t depth, uint32_t colourType)
{
    switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;  // grey
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;                 // palette
    case 2: case 4: case 6: return depth == 8 || depth == 16;  // RGB, grey and alpha, RGBA
    default: return false;
    }
}

ProbeResult ProbePng(const uint8_t* bytes, size_t size)
{
    const ContainerKind png = ContainerKind::png;
    // Signature, then IHDR's length, type, 13 bytes of fields and CRC.
    if (size < 8 + 12 + 13)
        return Damaged(png, kShortHeader);
    if (Big32(bytes + 8) != 13 || memcmp(bytes + 12, "IHDR", 4) != 0)
        return Damaged(png, "it does not begin with its header chunk");
    const uint32_t width = Big32(bytes + 16);
    const uint32_t height = Big32(bytes + 20);
    if (width == 0 || height == 0)
        return Damaged(png, kZeroSize);
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return Damaged(png, "it declares a width or height over 2^31 - 1");
    if (!PngDepthFitsColourType(bytes[24], bytes[25]))
        return Damaged(png, "its bit depth does not go with its colour type");
    // Each chunk is its length, its type, the body and a CRC of 4 bytes.
    size_t at = 8;
    while (at < size) {
        if (size - at < 12)
            return Damaged(png, "a chunk runs past the end of the file");
        const uint32_t length = Big32(bytes + at);
        if (length > size - at - 12)
            return Damaged(png, "a chunk runs past the end of the file");
        if (memcmp(bytes + at + 4, "IDAT", 4) == 0)
            return Fine(png, width, height);
        if (memcmp(bytes + at + 4, "IEND", 4) == 0)
            break;
        at += 12 + static_cast<size_t>(length);
    }
    return Damaged(png, "it has no picture data");
}

// ---- JPEG -----------------------------------------------------------------

// What the segments before the scan declare.
struct JpegHeaders {
    const char* damage = nullptr;  // why the walk stopped before the scan
    bool frame = false;
    uint32_t frameMarker = 0, precision = 0, height = 0, width = 0;
    int orientation = 1;
};

bool IsFrameMarker(uint32_t marker)
{
    // SOF0 to SOF15 but for DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

JpegHeaders WalkJpeg(const uint8_t* bytes, size_t size)
{
    JpegHeaders headers;
    bool exifSeen = false;
    size_t at = 2;
    for (;;) {
        // Stray bytes between segments are stepped over, as decoders do, and
        // any number of 0xFF fill bytes may stand before a marker's code.
        const void* mark = memchr(bytes + at, 0xFF, size - at);
        at = mark != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(mark) - bytes) : size;
        while (at < size && bytes[at] == 0xFF)
            ++at;
        if (at == size) {
            headers.damage = headers.frame ? "it ends before its picture data" : "it ends before its frame header";
            return headers;
        }
        const uint32_t marker = bytes[at++];
        if (marker == 0x00)
            continue;  // a stuffed zero: data, not a marker
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // TEM and RST0-7 stand alone, without a length
        if (marker == 0xD8) {
            headers.damage = "it has a second start-of-image marker";
            return headers;
        }
        if (marker == 0xD9) {
            headers.damage = headers.frame ? "it ends before its picture data" : "it ends before its frame header";
            return headers;
        }
        if (size - at < 2) {
            headers.damage = "a segment runs past the end of the file";
            return headers;
        }
        const size_t length = Big16(bytes + at);
        if (length < 2) {
            headers.damage = "a segment is shorter than its own length field";
            return headers;
        }
        if (length > size - at) {
            headers.damage = "a segment runs past the end of the file";
            return headers;
        }
        const uint8_t* body = bytes + at + 2;
        const size_t bodySize = length - 2;
        if (marker == 0xDA) {
            if (!headers.frame)
                headers.damage = "its scan begins before its frame header";
            return headers;
        }
        if (IsFrameMarker(marker) && !headers.frame) {
            // Precision, height, width, the component count, then 3 bytes a component.
            if (bodySize < 6) {
                headers.damage = "its frame header is shorter than its fields";
                return headers;
            }
            if (bodySize < 6 + 3 * static_cast<size_t>(body[5])) {
                headers.damage = "its frame header is shorter than its fields";
                return headers;
            }
            headers.frame = true;
            headers.frameMarker = marker;
            headers.precision = body[0];
            headers.height = Big16(body + 1);
            headers.width = Big16(body + 3);
        }
        if (marker == 0xE1 && !exifSeen && bodySize >= 6 && memcmp(body, "Exif\0\0", 6) == 0) {
            exifSeen = true;
            headers.orientation = ExifOrientation(body + 6, bodySize - 6);
        }
        at += length;
    }
}

ProbeResult ProbeJpeg(const uint8_t* bytes, size_t size)
{
    const ContainerKind jpeg = ContainerKind::jpeg;
    const JpegHeaders headers = WalkJpeg(bytes, size);
    ProbeResult result;
    if (headers.damage != nullptr)
        result = Damaged(jpeg, headers.damage);
    else if ((headers.frameMarker & 3) == 3)  // SOF3, 7, 11 and 15: the lossless processes
        result = Unsupported(jpeg, "a lossless JPEG");
    else if (headers.precision == 12)
        result = Unsupported(jpeg, "a 12-bit JPEG");
    else if (headers.precision == 16)
        result = Unsupported(jpeg, "a 16-bit JPEG");
    else if (headers.precision != 8)
        result = Damaged(jpeg, "its samples have a precision JPEG does not have");
    else if (headers.width == 0 || headers.height == 0)
        result = Damaged(jpeg, kZeroSize);
    else
        result = Fine(jpeg, headers.width, headers.height);
    result.orientation = headers.orientation;
    return result;
}

// ---- GIF ------------------------------------------------------------------

// A colour table of 2^(n+1) entries of 3 bytes follows when a flags byte's
// top bit is set; `at` steps over it.
bool SkipColourTable(uint32_t flags, size_t size, size_t& at)
{
    if ((flags & 0x80) == 0)
        return true;
    const size_t table = 3 * (static_cast<size_t>(2) << (flags & 7));
    if (table > size - at)
        return false;
    at += table;
    return true;
}

ProbeResult ProbeGif(const uint8_t* bytes, size_t size)
{
    const ContainerKind gif = ContainerKind::gif;
    // Signature 6, then the logical screen: width, height, flags, background, aspect.
    if (size < 13)
        return Damaged(gif, kShortHeader);
    const uint32_t screenWidth = Read16(bytes + 6);
    const uint32_t screenHeight = Read16(bytes + 8);
    size_t at = 13;
    if (!SkipColourTable(bytes[10], size, at))
        return Damaged(gif, "its colour table runs past the end of the file");
    while (at < size) {
        const uint32_t block = bytes[at];
        if (block == 0x3B)
            break;  // the trailer
        if (block == 0x2C) {
            // Separator, left, top, width, height, flags.
            if (size - at < 10)
                return Damaged(gif, "a frame's header runs past the end of the file");
            const int64_t right = static_cast<int64_t>(Read16(bytes + at + 1)) + Read16(bytes + at + 5);
            const int64_t bottom = static_cast<int64_t>(Read16(bytes + at + 3)) + Read16(bytes + at + 7);
            const uint32_t flags = bytes[at + 9];
            at += 10;
            if (!SkipColourTable(flags, size, at))
                return Damaged(gif, "its colour table runs past the end of the file");
            // A frame may stand partly outside the screen; decoders widen the picture to hold it.
            const int64_t width = right > screenWidth ? right : screenWidth;
            const int64_t height = bottom > screenHeight ? bottom : screenHeight;
            if (width == 0 || height == 0)
                return Damaged(gif, kZeroSize);
            ProbeResult result = Fine(gif, width, height);
            // The code size, then the data's sub-blocks, until a length of 0.
            for (at += 1; at < size; at += 1 + bytes[at]) {
                if (bytes[at] == 0) {
                    result.firstFrameEnd = at + 1;
                    break;
                }
            }
            return result;
        }
        if (block != 0x21)
            return Damaged(gif, "it has a block of no kind GIF has");
        // Introducer and label, then sub-blocks of a length byte and that
        // many bytes, until a length of 0.
        at += 2;
        for (;;) {
            if (at >= size)
                return Damaged(gif, "an extension runs past the end of the file");
            const size_t length = bytes[at];
            at += 1 + length;
            if (length == 0)
                break;
        }
    }
    return Damaged(gif, "it has no frames");
}

// ---- TIFF -----------------------------------------------------------------

ProbeResult ProbeTiff(const uint8_t* bytes, size_t size)
{
    const ContainerKind tiff = ContainerKind::tiff;
    Tiff file;
    size_t directory = 0;
    uint32_t entries = 0;
    if (!OpenTiff(bytes, size, file))
        return Damaged(tiff, kShortHeader);
    if (!FirstDirectory(file, directory, entries))
        return Damaged(tiff, "its first directory runs past the end of the file");
    // A tag that is absent, or neither SHORT nor LONG, leaves its default.
    uint32_t width = 0, height = 0, photometric = 2, sampleFormat = 1, bits = 8;
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + 12 * static_cast<size_t>(i);
        uint32_t* value = nullptr;
        switch (file.U16(entry)) {
        case 256: value = &width; break;
        case 257: value = &height; break;
        case 258: value = &bits; break;
        case 262: value = &photometric; break;
        case 339: value = &sampleFormat; break;
        default: continue;
        }
        if (!ReadFirstValue(file, entry, *value))
            return Damaged(tiff, "a tag's values lie past the end of the file");
    }
    if (width == 0 || height == 0)
        return Damaged(tiff, "it declares no width or height, or one of 0");
    if (bits == 0)
        return Damaged(tiff, "it declares 0 bits a sample");
    if (photometric == 5)
        return Unsupported(tiff, "a CMYK TIFF");
    if (sampleFormat == 3)
        return Unsupported(tiff, "a floating-point TIFF");
    return Fine(tiff, width, height);
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

ProbeResult ProbeBmp(const uint8_t* bytes, size_t size)
{
    const ContainerKind bmp = ContainerKind::bmp;
    // The 14-byte file header, then an info header that begins with its own size.
    if (size < 18)
        return Damaged(bmp, kShortHeader);
    const uint32_t dataOffset = Read32(bytes + 10);
    const uint32_t infoSize = Read32(bytes + 14);
    if (!KnownInfoSize(infoSize))
        return Damaged(bmp, "its picture header has a size no BMP header has");
    if (infoSize > size - 14)
        return Damaged(bmp, kShortHeader);
    if (dataOffset < 14 + infoSize)
        return Damaged(bmp, "its pixels start inside its header");
    int64_t width = 0, height = 0;
    uint32_t compression = 0;
    if (infoSize == 12) {
        // OS/2 1.x: unsigned 16-bit width and height, never compressed.
        width = Read16(bytes + 18);
        height = Read16(bytes + 20);
    } else {
        width = static_cast<int32_t>(Read32(bytes + 18));
        height = static_cast<int32_t>(Read32(bytes + 22));
        if (infoSize >= 20)
            compression = Read32(bytes + 30);
    }
    if (width < 1)
        return Damaged(bmp, "it declares a width under 1 pixel");
    if (height == 0)
        return Damaged(bmp, kZeroSize);
    // Compressions 4 and 5 are JPEG and PNG in Windows headers only; in
    // OS/2's, 4 is RLE24, which is left to the decoder.
    if (WindowsInfoSize(infoSize) && compression == 4)
        return Unsupported(bmp, "a BMP with JPEG compression");
    if (WindowsInfoSize(infoSize) && compression == 5)
        return Unsupported(bmp, "a BMP with PNG compression");
    // height < 0: rows are stored top-down; INT_MIN's magnitude is 2^31.
    return Fine(bmp, width, height < 0 ? -height : height);
}

}  // namespace

ProbeResult ProbeContainer(const uint8_t* bytes, size_t size)
{
    if (Begins(bytes, size, reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature))
        return ProbePng(bytes, size);
    if (Begins(bytes, size, "\xFF\xD8", 2))
        return ProbeJpeg(bytes, size);
    if (Begins(bytes, size, "GIF87a", 6) || Begins(bytes, size, "GIF89a", 6))
        return ProbeGif(bytes, size);
    if (Begins(bytes, size, "II*\0", 4) || Begins(bytes, size, "MM\0*", 4))
        return ProbeTiff(bytes, size);
    if (Begins(bytes, size, "BM", 2))
        return ProbeBmp(bytes, size);
    return ProbeResult();
}

int JpegExifOrientation(const uint8_t* bytes, size_t size)
{
    if (!Begins(bytes, size, "\xFF\xD8", 2))
        return 1;
    return WalkJpeg(bytes, size).orientation;
}
