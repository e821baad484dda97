// The sentences that refuse a picture (see refusals.h).
#include "read/refusals.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "formats/bmp_header.h"
#include "support/system.h"
#include "support/utf8.h"

namespace {

const char* KindName(ContainerKind kind)
{
    switch (kind) {
    case ContainerKind::bmp: return "BMP";
    case ContainerKind::png: return "PNG";
    case ContainerKind::jpeg: return "JPEG";
    case ContainerKind::gif: return "GIF";
    case ContainerKind::tiff: return "TIFF";
    case ContainerKind::webp: return "WebP";
    case ContainerKind::heif: return "HEIF";
    default: return nullptr;
    }
}

// "a 24-bit", "an 8-bit": the bits per pixel of a BMP header with its article.
std::string BitsPerPixel(const uint8_t* h)
{
    const unsigned bits = ReadBmpHeaderFields(h, kBmpHeaderSize).bitsPerPixel;
    std::string number = std::to_string(bits);
    const bool an = number[0] == '8' || bits == 11 || bits == 18 || (number.size() % 3 == 2 && number[0] == '1' &&
                                                                      (number[1] == '1' || number[1] == '8'));
    return (an ? "an " : "a ") + number + "-bit";
}

// The compression of a BMP the platform could not read, when it says more
// than its bits: bit fields in a Windows header, Huffman coding in OS/2's.
const char* BmpCompressionWords(const uint8_t* h)
{
    const BmpHeaderFields f = ReadBmpHeaderFields(h, kBmpHeaderSize);
    const uint32_t infoSize = f.infoSize, compression = f.compression;
    const bool os2 = infoSize == 16 || infoSize == 64;
    if (compression == 3)
        return os2 ? " with Huffman coding" : " with bit fields";
    if (compression == 6 && !os2)
        return " with bit fields";
    return "";
}

// The running program's file name: duotint.exe, or duotint-cli.exe.
std::string ProgramFileName()
{
    const std::wstring path = RunningProgramPath();
    return Utf8Of(path.substr(path.find_last_of(L"\\/") + 1));
}

// "5", "9.9": a budget in seconds, to a tenth.
std::string SecondsText(uint32_t milliseconds)
{
    char text[16];
    if (milliseconds % 1000 == 0)
        snprintf(text, sizeof text, "%u", milliseconds / 1000);
    else
        snprintf(text, sizeof text, "%.1f", milliseconds / 1000.0);
    return text;
}

}  // namespace

const char* ProbeClauseWords(ProbeClause clause)
{
    static const struct {
        ProbeClause clause;
        const char* words;
    } kClauses[] = {
        {ProbeClause::tooShortForPicture, "the file is too short for the picture it declares"},
        {ProbeClause::shortHeader, "the file is shorter than its header"},
        {ProbeClause::zeroSize, "it declares a width or height of 0"},
        {ProbeClause::budgetSpent, "it takes more than 64 MiB of reading to find its picture's header"},
        {ProbeClause::pngNoHeaderChunk, "it does not begin with its header chunk"},
        {ProbeClause::pngSizeOver31Bits, "it declares a width or height over 2^31 - 1"},
        {ProbeClause::pngDepthNotOfColourType, "its bit depth does not go with its colour type"},
        {ProbeClause::chunkPastEnd, "a chunk runs past the end of the file"},
        {ProbeClause::pngNoData, "it has no picture data"},
        {ProbeClause::segmentPastEnd, "a segment runs past the end of the file"},
        {ProbeClause::jpegFrameShorterThanFields, "its frame header is shorter than its fields"},
        {ProbeClause::jpegScanBeforeFrame, "its scan begins before its frame header"},
        {ProbeClause::jpegSecondStart, "it has a second start-of-image marker"},
        {ProbeClause::segmentShorterThanLength, "a segment is shorter than its own length field"},
        {ProbeClause::jpegTooManySegments, "it holds more segments than any picture has"},
        {ProbeClause::jpegEndsBeforeData, "it ends before its picture data"},
        {ProbeClause::jpegEndsBeforeFrame, "it ends before its frame header"},
        {ProbeClause::jpegPrecision, "its samples have a precision JPEG does not have"},
        {ProbeClause::jpegLossless, "a lossless JPEG"},
        {ProbeClause::jpeg12Bit, "a 12-bit JPEG"},
        {ProbeClause::jpeg16Bit, "a 16-bit JPEG"},
        {ProbeClause::colourTablePastEnd, "its colour table runs past the end of the file"},
        {ProbeClause::gifFrameHeaderPastEnd, "a frame's header runs past the end of the file"},
        {ProbeClause::gifBlockOfNoKind, "it has a block of no kind GIF has"},
        {ProbeClause::gifExtensionPastEnd, "an extension runs past the end of the file"},
        {ProbeClause::gifNoFrames, "it has no frames"},
        {ProbeClause::tiffDirectoryPastEnd, "its first directory runs past the end of the file"},
        {ProbeClause::tiffValuesPastEnd, "a tag's values lie past the end of the file"},
        {ProbeClause::tiffNoSize, "it declares no width or height, or one of 0"},
        {ProbeClause::tiffZeroBits, "it declares 0 bits a sample"},
        {ProbeClause::tiffFloat, "a floating-point TIFF"},
        {ProbeClause::webpNoPictureAfterExtended, "it holds no picture after its extended header"},
        {ProbeClause::webpNotKeyFrame, "its lossy picture does not begin with a key frame"},
        {ProbeClause::webpNoStartCode, "its lossy picture lacks the start code every one has"},
        {ProbeClause::webpNoLosslessSignature, "its lossless picture lacks the signature every one has"},
        {ProbeClause::webpLosslessVersion, "its lossless picture has a version WebP does not define"},
        {ProbeClause::webpNoPictureChunk, "it does not begin with a picture chunk WebP defines"},
        {ProbeClause::boxPastEnd, "a box runs past the end of the file"},
        {ProbeClause::boxFieldsPastEnd, "a box's fields run past its end"},
        {ProbeClause::heifLocationFieldSize, "its item locations have fields of a size HEIF does not define"},
        {ProbeClause::heifLocationVersion, "its item locations are of a version HEIF does not define"},
        {ProbeClause::heifNoMeta, "it has no meta box, which lists its pictures"},
        {ProbeClause::heifNoPrimary, "it names no primary picture, or lacks the boxes that describe it"},
        {ProbeClause::heifNoSize, "its primary picture declares no size"},
        {ProbeClause::heifCoding, "a HEIF picture in a coding duotint does not read"},
        {ProbeClause::bmpHeaderSize, "its picture header has a size no BMP header has"},
        {ProbeClause::bmpPixelsInHeader, "its pixels start inside its header"},
        {ProbeClause::bmpWidthUnder1, "it declares a width under 1 pixel"},
        {ProbeClause::bmpHeightIntMin, "it declares a height of -2147483648, which no picture has"},
        {ProbeClause::bmpBitCount, "it declares a number of bits a pixel that no BMP has"},
        {ProbeClause::bmpJpeg, "a BMP with JPEG compression"},
        {ProbeClause::bmpPng, "a BMP with PNG compression"},
    };
    for (const auto& c : kClauses)
        if (c.clause == clause)
            return c.words;
    return "";
}

Failure Refuse(const char* format, ...)
{
    char sentence[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(sentence, sizeof sentence, format, arguments);
    va_end(arguments);
    return Refusal(kErrorRefusedPicture, sentence);
}

bool IsOurKindOfBmp(const uint8_t* h)
{
    const BmpHeaderFields f = ReadBmpHeaderFields(h, kBmpHeaderSize);
    return f.magic && f.infoSize >= 40 && f.planes == 1 && f.bitsPerPixel == 24 && f.compression == 0;
}

Failure RefuseDecoded(DecodeOutcome outcome, ContainerKind kind, const char* name, const uint8_t* h,
                      const DecoderProcess& decoder)
{
    const DecodeBudget budget = decoder.Budget();
    switch (outcome) {
    case DecodeOutcome::cannotDecode:
        if (kind == ContainerKind::bmp && *BmpCompressionWords(h) != '\0')
            return Refuse("%s is %s BMP picture%s, a kind duotint cannot read.", name, BitsPerPixel(h).c_str(),
                   BmpCompressionWords(h));
        if (kind == ContainerKind::bmp)
            return Refuse("%s is %s BMP picture that duotint cannot read; it may be damaged.", name, BitsPerPixel(h).c_str());
        if (KindName(kind) != nullptr && !decoder.Message().empty())
            return Refuse("%s is a %s picture that duotint cannot read (the decoder says: %s).", name, KindName(kind),
                          decoder.Message().c_str());
        if (KindName(kind) != nullptr)
            return Refuse("%s is a %s picture that duotint cannot read; it may be damaged.", name, KindName(kind));
        return Refuse("%s is not a picture duotint can read.", name);
    case DecodeOutcome::damaged:
        if (!decoder.Message().empty())
            return Refuse("%s is damaged; duotint could not read all of its pixels (the decoder says: %s).", name,
                          decoder.Message().c_str());
        return Refuse("%s is damaged; duotint could not read all of its pixels.", name);
    case DecodeOutcome::cutShort:
        return Refuse("%s is cut short; duotint could not read all of its pixels (the decoder says: %s).", name,
                      decoder.Message().c_str());
    case DecodeOutcome::crashed:
        return Refuse("%s could not be decoded: its decoder crashed.", name);
    case DecodeOutcome::tooSlow:
        return Refuse("%s could not be decoded: its decoder was stopped after %s s of work, longer than a picture of its "
               "size needs.",
               name, SecondsText(budget.cpuMilliseconds).c_str());
    case DecodeOutcome::stalled:
        return Refuse("%s could not be decoded: its decoder was stopped after %s s without progress.", name,
               SecondsText(budget.wallMilliseconds).c_str());
    case DecodeOutcome::tooHungry:
        if (!decoder.Message().empty())
            return Refuse("%s could not be decoded: its decoder would need more than the %llu MiB of memory a picture "
                          "of its size may take.",
                          name, static_cast<unsigned long long>(budget.memoryBytes >> 20));
        return Refuse("%s could not be decoded: its decoder was stopped when it took more than %llu MiB of memory.", name,
               static_cast<unsigned long long>(budget.memoryBytes >> 20));
    case DecodeOutcome::tooLarge: {
        char sentence[1024];
        TooLargeSentence(name, decoder.Width(), decoder.Height(), sentence, sizeof sentence);
        return Refuse("%s", sentence);
    }
    case DecodeOutcome::noChild:
        if (decoder.StartError() == ERROR_FILE_NOT_FOUND || decoder.StartError() == ERROR_PATH_NOT_FOUND)
            return Refuse("duotint could not start duotint-decode.exe to read %s; it belongs beside %s.", name,
                   ProgramFileName().c_str());
        return Refuse("duotint could not start duotint-decode.exe to read %s: the system refused it (error %u).", name,
               decoder.StartError());
    case DecodeOutcome::noMemory:
        return NoMemoryFor("the memory for the picture");
    default:
        return Refuse("%s could not be decoded: the file is damaged, or its kind cannot be read here.", name);
    }
}
