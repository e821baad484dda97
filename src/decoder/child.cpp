// duotint-decode's work: it serves the program's requests in the shared
// record until the program ends it. JPEG goes to libjpeg-turbo, WebP to
// libwebp, HEIC and AVIF to libheif, PNG to libspng, GIF to giflib, TIFF
// to libtiff, every other kind to the platform, whose decoders are readied
// on the first picture that needs them: starting them costs more than the
// rest of the child's start, and most pictures never do.
#include "decoder/child.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "decoder/gif_decode.h"
#include "decoder/heif_decode.h"
#include "decoder/tiff_decode.h"
#include "decoder/jpeg_decode.h"
#include "decoder/page_touch.h"
#include "decoder/picture_decode.h"
#include "decoder/png_decode.h"
#include "decoder/webp_decode.h"
#include "formats/probe.h"
#include "read/decode_process.h"
#include "read/decode_protocol.h"
#include "support/library_function.h"
#include "support/system.h"

namespace {

const uint64_t kMiB = 1024 * 1024;

// A child that dies must die quietly: no crash dialog, no debugger, just an
// exit code the program reads as a crash.
LONG WINAPI EndQuietly(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Test-only faults of the child, so that containment is tested without
// leaning on one decoder's bug. The program hands them over from
// DUOTINT_DECODER_FAULT (see ChooseTestFault). At the start of a decode:
// crash, hang (sleeps), hog (takes memory without end), keep (holds 80 MiB
// past its picture, as a decoder that leaks would).
void InjectTestFault(const char* fault)
{
    if (strcmp(fault, "keep") == 0) {
        auto* block = static_cast<volatile uint8_t*>(VirtualAlloc(nullptr, 80 * kMiB, MEM_COMMIT, PAGE_READWRITE));
        for (size_t at = 0; block != nullptr && at < 80 * kMiB; at += 4096)
            block[at] = 1;
    }
    if (strcmp(fault, "crash") == 0)
        *static_cast<volatile int*>(nullptr) = 0;
    if (strcmp(fault, "hang") == 0)
        Sleep(INFINITE);
    if (strcmp(fault, "hog") == 0)
        for (;;) {
            auto* block = static_cast<volatile uint8_t*>(VirtualAlloc(nullptr, 16 * kMiB, MEM_COMMIT, PAGE_READWRITE));
            for (size_t at = 0; block != nullptr && at < 16 * kMiB; at += 4096)
                block[at] = 1;
        }
}

// Test-only: slow:CPU:WALL before the copy, rows that come out one by one
// over WALL ms of the clock, CPU ms of them spent working: a decoder that
// is slow but goes on.
void SlowRows(const char* fault, int64_t rows, volatile int64_t* rowsDone)
{
    unsigned cpu = 0, wall = 0;
    if (sscanf(fault, "slow:%u:%u", &cpu, &wall) != 2 || rows < 1)
        return;
    const DWORD start = GetTickCount();
    const uint64_t cpuStart = ThreadCpu(GetCurrentThread());
    for (int64_t row = 1; row <= rows; ++row) {
        while (ThreadCpu(GetCurrentThread()) - cpuStart < uint64_t{cpu} * 10000 * row / rows) {
        }
        const DWORD due = static_cast<DWORD>(wall * row / rows), spent = GetTickCount() - start;
        if (spent < due)
            Sleep(due - spent);
        *rowsDone = row;
    }
}

// The picture the child holds between an open and a copy: one reader for
// each kind a library reads, the platform's decoders for any other.
struct HeldPicture {
    JpegPicture jpeg;
    WebpPicture webp;
    HeifPicture heif;
    PngPicture png;
    GifPicture gif;
    TiffPicture tiff;
    PictureReader* reader = nullptr;  // null: the platform's
    DecodedPicture platform;
    // The picture's file, given with the open as a section, and mapped.
    HANDLE section = nullptr;
    const uint8_t* file = nullptr;
    uint64_t fileBytes = 0;

    bool MapFile(const DecoderControl& record)
    {
        section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.fileSection));
        fileBytes = record.fileBytes;
        file = static_cast<const uint8_t*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
        return file != nullptr;
    }

    void Take(ContainerKind kind)
    {
        switch (kind) {
        case ContainerKind::jpeg: reader = &jpeg; break;
        case ContainerKind::webp: reader = &webp; break;
        case ContainerKind::heif: reader = &heif; break;
        case ContainerKind::png: reader = &png; break;
        case ContainerKind::gif: reader = &gif; break;
        case ContainerKind::tiff: reader = &tiff; break;
        default: reader = nullptr;
        }
    }
    int64_t Height() const { return reader != nullptr ? reader->Height() : platform.Height(); }
    void Close()
    {
        if (reader != nullptr)
            reader->Close();
        platform.Close();
        if (file != nullptr)
            UnmapViewOfFile(file);
        if (section != nullptr)
            CloseHandle(section);
        file = nullptr;
        section = nullptr;
        fileBytes = 0;
    }
};

// What a failed request to a library's reader answers, with the reader's
// words in the record.
DecodeOutcome LibraryAnswer(const PictureReader& reader, DecoderControl* record)
{
    snprintf(record->message, sizeof record->message, "%s", reader.Message());
    switch (reader.Failure()) {
    case ReaderFailure::cutShort: return DecodeOutcome::cutShort;
    case ReaderFailure::damaged: return DecodeOutcome::damaged;
    case ReaderFailure::tooHungry: return DecodeOutcome::tooHungry;
    default: return DecodeOutcome::cannotDecode;
    }
}

// The events of a ring's hand-over (see decode_protocol.h).
struct RingEvents {
    HANDLE room;      // the program has let go of rows
    HANDLE rowsCame;  // the rows the program waits for are in
};

// The child's copy: the rows, and the alpha plane after them when asked
// for, into the program's section, which the child lets go of before it
// answers. A ring is taken only for a reader whose rows come in order.
DecodeOutcome CopyRows(DecoderControl* record, HeldPicture& picture, const RingEvents& events)
{
    const int64_t height = picture.Height();
    PictureReader* reader = picture.reader;
    const auto section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record->pixelSection));
    const bool inOrder = reader != nullptr && reader->RowsInOrder();
    const int64_t slots = record->ringRows > 0 && record->ringRows < height ? record->ringRows : height;
    const SIZE_T colourBytes = static_cast<SIZE_T>(record->stride) * static_cast<SIZE_T>(slots);
    // A library's picture that cannot be transparent has its plane left as
    // the section came: zeros.
    const bool canBeTransparent = reader == nullptr || reader->HasAlpha();
    const SIZE_T alphaBytes =
        canBeTransparent ? static_cast<SIZE_T>(record->alphaStride) * static_cast<SIZE_T>(height) : 0;
    auto* pixels = slots < height && (!inOrder || record->alphaStride != 0)
                       ? nullptr
                       : static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, colourBytes + alphaBytes));
    SlowRows(record->fault, height, &record->rowsDone);
    if (pixels != nullptr && inOrder) {
        record->rowsDone = 0;
        record->rowsInOrder = 1;
    }
    uint8_t* alpha = pixels != nullptr && alphaBytes != 0 ? pixels + colourBytes : nullptr;
    RowTarget rows(pixels, record->stride, height, slots, alpha, record->alphaStride, record, events.room,
                   events.rowsCame);
    DecodeOutcome outcome = DecodeOutcome::damaged;
    record->alpha = false;
    // The rows are touched from the top row's page down, the order most
    // readers write them in; a ring is reused, so not touched.
    if (slots == height)
        StartTouching(pixels, colourBytes);
    if (pixels != nullptr && reader != nullptr) {
        if (reader->CopyInto(rows))
            outcome = DecodeOutcome::decoded;
        else
            outcome = LibraryAnswer(*reader, record);
        record->alpha = outcome == DecodeOutcome::decoded && reader->Translucent();
    } else if (pixels != nullptr) {
        DecodedPicture& platform = picture.platform;
        if (platform.CopyInto(rows))
            outcome = DecodeOutcome::decoded;
        record->alpha = outcome == DecodeOutcome::decoded && platform.Translucent();
    }
    StopTouching(pixels);
    if (pixels != nullptr)
        UnmapViewOfFile(pixels);
    CloseHandle(section);
    return outcome;
}

// The child's open: the size as shown, and whether the picture can be
// transparent.
DecodeOutcome OpenPicture(DecoderControl* record, HeldPicture& picture)
{
    picture.Take(static_cast<ContainerKind>(record->kind));
    record->rowsInOrder = 0;
    if (!picture.MapFile(*record))
        return DecodeOutcome::cannotDecode;
    if (PictureReader* reader = picture.reader) {
        ReadLimits limits;
        limits.orientation = record->orientation;
        limits.longestSide = record->declaredWidth > record->declaredHeight ? record->declaredWidth
                                                                            : record->declaredHeight;
        limits.memoryBytes = record->memoryBytes;
        if (!reader->Open(picture.file, picture.fileBytes, limits))
            return LibraryAnswer(*reader, record);
        record->width = reader->Width();
        record->height = reader->Height();
        record->alpha = reader->HasAlpha();
        record->rowsInOrder = reader->RowsInOrder();
        return DecodeOutcome::decoded;
    }
    DecodedPicture& platform = picture.platform;
    if (!platform.Open(picture.file, picture.fileBytes, record->orientation))
        return DecodeOutcome::cannotDecode;
    record->width = platform.Width();
    record->height = platform.Height();
    record->alpha = platform.HasAlpha();
    return DecodeOutcome::decoded;
}

}  // namespace

int RunDecoderChild(const wchar_t* commandLine)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndQuietly);
    // The five handle values follow the program's name.
    const wchar_t* at = wcschr(commandLine, L' ');
    wchar_t* end = nullptr;
    HANDLE handles[5] = {};
    for (HANDLE& handle : handles) {
        if (at == nullptr)
            return 2;
        handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(at, &end, 10)));
        at = end;
    }
    auto* record = static_cast<DecoderControl*>(MapViewOfFile(handles[0], FILE_MAP_WRITE, 0, 0, sizeof(DecoderControl)));
    if (record == nullptr)
        return 2;
    HANDLE reported = handles[1], go = handles[2];
    const RingEvents events = {handles[3], handles[4]};
    // A reader with time to spare (the editor's name popup) has the
    // platform's decoders readied before the first request.
    if (wcsstr(at, L"platform") != nullptr)
        PrepareDecoders();
    auto answer = [&](DecodeOutcome outcome) {
        record->outcome = static_cast<int32_t>(outcome);
        SetEvent(reported);
    };
    answer(DecodeOutcome::decoded);  // ready

    // Each picture starts from nothing of the one before: the decoder, its
    // file and the pixel section are let go of before the answer.
    HeldPicture picture;
    for (;;) {
        WaitForSingleObject(go, INFINITE);
        record->message[0] = '\0';
        switch (record->request) {
        case kOpenRequest: {
            picture.Close();
            InjectTestFault(record->fault);
            const DecodeOutcome outcome = OpenPicture(record, picture);
            if (outcome != DecodeOutcome::decoded)
                picture.Close();
            answer(outcome);
            break;
        }
        case kCopyRequest: {
            const DecodeOutcome outcome = CopyRows(record, picture, events);
            picture.Close();
            answer(outcome);
            break;
        }
        default:
            picture.Close();
            answer(DecodeOutcome::decoded);
        }
    }
}
