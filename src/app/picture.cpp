// The read path. Files our 24-bit reader accepts are read by it exactly, with
// its runtime errors; anything it refuses goes to the platform's decoders
// before it is refused. Either way the pixels land in sourceImage only.
#include "app/picture.h"

#include <cstdio>
#include <cstring>

#include "app/program_state.h"
#include "image/bmp.h"
#include "image/picture_decode.h"
#include "support/error.h"
#include "support/file_io.h"

namespace {

// The decoder of a picture our reader refused, open from ReadImageHeader to
// the end of LoadSourcePixels; closed, it means our reader has the picture.
DecodedPicture platformPicture;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Under Wine a read fills memory whose pages are already mapped about twice
// as fast as a freshly allocated block, whose pages the system maps one
// fault at a time during the read. So each piece of the picture's buffer is
// written once, a byte a page, just before the file's bytes go into it.
const uint32_t kReadPiece = 1u << 22;

void TouchPages(uint8_t* start, uint32_t size)
{
    for (uint32_t at = 0; at < size; at += 4096)
        static_cast<volatile uint8_t*>(start)[at] = 0;
}

bool OpenWithPlatform()
{
    if (state.picturePath != nullptr)
        return platformPicture.Open(state.picturePath);
    wchar_t path[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, state.fileNamePtr, -1, path, MAX_PATH) != 0 && platformPicture.Open(path);
}

// Why a file neither reader takes is refused. A 24-bit uncompressed BMP keeps
// our reader's reason (its size, its damage); another BMP says what it is;
// anything else says what it is not, rather than quoting a field of garbage.
void RefusalSentence(const char* readerSentence, char* sentence, size_t size)
{
    const uint8_t* h = state.fileHeader;
    if (h[0] != 'B' || h[1] != 'M') {
        snprintf(sentence, size, "%s is not a picture duotint can read.", state.fileNamePtr);
        return;
    }
    uint32_t infoSize = Read32(h + 14);
    uint16_t bits = Read16(h + 28);
    if (infoSize >= 40 && Read16(h + 26) == 1 && bits == 24 && Read32(h + 30) == 0) {
        snprintf(sentence, size, "%s", readerSentence);
        return;
    }
    if (Read32(h + 30) == 3) {
        snprintf(sentence, size, "%s is a %u-bit BMP picture with bit fields, a kind duotint cannot read.",
                 state.fileNamePtr, bits);
        return;
    }
    snprintf(sentence, size, "%s is a %u-bit BMP picture that duotint cannot read; it may be damaged.",
             state.fileNamePtr, bits);
}

void LoadPlatformPixels()
{
    AllocatePixelBuffer(static_cast<uint32_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight),
                        state.sourceHandle, state.sourcePixels);
    bool whole = platformPicture.CopyInto(state.sourcePixels, state.srcStride);
    platformPicture.Close();
    if (!whole) {
        char sentence[512];
        snprintf(sentence, sizeof sentence, "%s is damaged; duotint could not read all of its pixels.",
                 state.fileNamePtr);
        EndWithSentence(kErrorRefusedPicture, sentence);
    }
}

}  // namespace

void BindPicture()
{
    if (state.picturePath != nullptr)
        BindFileW(state.imageFile, state.picturePath);
    else
        BindFile(state.imageFile, state.fileNamePtr);
}

void ReadImageHeader()
{
    platformPicture.Close();
    BindPicture();
    OpenForReading(state.imageFile);
    CheckIo();
    uint64_t fileSize = FileSize(state.imageFile);
    CheckIo();
    memset(state.fileHeader, 0, sizeof state.fileHeader);
    if (fileSize >= 54) {
        ReadBytes(state.imageFile, state.fileHeader, 54);
        CheckIo();
    }
    CloseFile(state.imageFile);
    CheckIo();

    ImageHeaderFacts facts;
    char readerSentence[512];
    if (fileSize >= 54 &&
        ParseImageHeader(state.fileHeader, state.fileNamePtr, facts, readerSentence, sizeof readerSentence)) {
        state.imageWidth = facts.width;
        state.imageHeight = facts.height;
        state.topDown = facts.topDown;
        state.pixelDataOffset = facts.dataOffset;
        return;
    }

    // A size beyond 32 bits is a negative field read as unsigned: damage.
    if (OpenWithPlatform() && (platformPicture.Width() > 0x7FFFFFFF || platformPicture.Height() > 0x7FFFFFFF))
        platformPicture.Close();
    if (platformPicture.Width() != 0) {
        char sentence[512];
        if (!PixelsFitInMemory(platformPicture.Width(), platformPicture.Height())) {
            TooLargeSentence(state.fileNamePtr, platformPicture.Width(), platformPicture.Height(), sentence,
                             sizeof sentence);
            platformPicture.Close();
            EndWithSentence(kErrorRefusedPicture, sentence);
        }
        state.imageWidth = static_cast<int32_t>(platformPicture.Width());
        state.imageHeight = static_cast<int32_t>(platformPicture.Height());
        state.topDown = 0;
        state.pixelDataOffset = 0;
        return;
    }
    if (fileSize < 54) {
        // Too short even for a BMP header: the read of it fails, as it always has.
        errorState.pendingIoError = kErrorShortRead;
        CheckIo();
    }
    char sentence[512];
    RefusalSentence(readerSentence, sentence, sizeof sentence);
    EndWithSentence(kErrorRefusedPicture, sentence);
}

void LoadSourcePixels()
{
    RowLayout layout = RowStride(state.imageWidth);
    state.srcStride = layout.stride;
    state.srcPad = layout.pad;
    const uint32_t bytes = static_cast<uint32_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight);
    if (platformPicture.Width() != 0) {
        LoadPlatformPixels();
        return;
    }

    BindPicture();
    OpenForReading(state.imageFile);
    CheckIo();
    // Every row, the last one's padding included, must be in the file; a
    // shorter file ends here, before any memory is taken for it.
    uint64_t fileSize = FileSize(state.imageFile);
    CheckIo();
    if (fileSize < static_cast<uint64_t>(state.pixelDataOffset) + bytes) {
        errorState.pendingIoError = kErrorShortRead;
        CheckIo();
    }
    ReadBytes(state.imageFile, state.fileHeader, 54);
    CheckIo();
    // A palette or a longer info header may stand between the 54 header
    // bytes and the pixels.
    SkipBytes(state.imageFile, state.pixelDataOffset - 54);
    CheckIo();
    AllocatePixelBuffer(bytes, state.sourceHandle, state.sourcePixels);

    // File rows have the buffer's stride. Bottom-up files are the buffer
    // already and go in large reads; top-down rows go in reverse, each served
    // from the file layer's read-ahead.
    if (!state.topDown) {
        for (uint32_t done = 0; done < bytes;) {
            const uint32_t piece = bytes - done < kReadPiece ? bytes - done : kReadPiece;
            TouchPages(state.sourcePixels + done, piece);
            ReadBytes(state.imageFile, state.sourcePixels + done, piece);
            CheckIo();
            done += piece;
        }
    } else {
        for (state.row = state.imageHeight - 1; state.row >= 0; --state.row) {
            ReadBytes(state.imageFile, state.sourcePixels + static_cast<size_t>(state.row) * state.srcStride,
                      static_cast<uint32_t>(state.srcStride));
            CheckIo();
        }
    }
    // Padding bytes in the file may be anything; in memory they are 0.
    if (state.srcPad != 0) {
        const size_t pixelBytes = 3 * static_cast<size_t>(state.imageWidth);
        for (int32_t row = 0; row < state.imageHeight; ++row)
            memset(state.sourcePixels + static_cast<size_t>(row) * state.srcStride + pixelBytes, 0, state.srcPad);
    }
    state.row = -1;
    CloseFile(state.imageFile);
    CheckIo();
}

void FillExportHeader()
{
    PackExportHeader(state.fileHeader, state.imageWidth, state.imageHeight, state.srcStride);
}
