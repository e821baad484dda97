// duotint-decode's work: it serves the program's requests in the shared
// record until the program ends it. JPEG goes to libjpeg-turbo, WebP to
// libwebp, HEIC and AVIF to libheif, every other kind to the platform,
// whose decoders are readied on the first picture that needs them:
// starting them costs more than the rest of the child's start, and most
// pictures never do.
#include "decoder/child.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "decoder/heif_decode.h"
#include "decoder/jpeg_decode.h"
#include "decoder/picture_decode.h"
#include "decoder/webp_decode.h"
#include "picture/decode_process.h"
#include "picture/decode_protocol.h"
#include "picture/probe.h"
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

// The picture the child holds between an open and a copy: a JPEG for
// libjpeg-turbo, a WebP for libwebp, a HEIF for libheif, anything else for
// the platform's decoders.
struct HeldPicture {
    ContainerKind kind = ContainerKind::unknown;
    JpegPicture jpegPicture;
    WebpPicture webpPicture;
    HeifPicture heifPicture;
    DecodedPicture platformPicture;

    bool Jpeg() const { return kind == ContainerKind::jpeg; }
    bool Webp() const { return kind == ContainerKind::webp; }
    bool Heif() const { return kind == ContainerKind::heif; }
    int64_t Height() const
    {
        return Jpeg() ? jpegPicture.Height()
               : Webp() ? webpPicture.Height()
               : Heif() ? heifPicture.Height()
                        : platformPicture.Height();
    }
    void Close()
    {
        jpegPicture.Close();
        webpPicture.Close();
        heifPicture.Close();
        platformPicture.Close();
    }
};

// What a failed request to a library's reader (JPEG, WebP, HEIF) answers, with
// the reader's words in the record; each reader's failures have the same
// names.
template <typename Picture>
DecodeOutcome LibraryAnswer(const Picture& picture, DecoderControl* record)
{
    using Failed = decltype(picture.Failure());
    snprintf(record->message, sizeof record->message, "%s", picture.Message());
    switch (picture.Failure()) {
    case Failed::cutShort: return DecodeOutcome::cutShort;
    case Failed::damaged: return DecodeOutcome::damaged;
    case Failed::tooHungry: return DecodeOutcome::tooHungry;
    default: return DecodeOutcome::cannotDecode;
    }
}

// The child's copy: the rows, and the alpha plane after them when asked
// for, into the program's section, which the child lets go of before it
// answers.
DecodeOutcome CopyRows(DecoderControl* record, HeldPicture& picture)
{
    const int64_t height = picture.Height();
    const auto section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record->pixelSection));
    const SIZE_T colourBytes = static_cast<SIZE_T>(record->stride) * static_cast<SIZE_T>(height);
    // A JPEG has no alpha, and its plane is left as the section came: zeros.
    const SIZE_T alphaBytes = picture.Jpeg() ? 0 : static_cast<SIZE_T>(record->alphaStride) * static_cast<SIZE_T>(height);
    auto* pixels = static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, colourBytes + alphaBytes));
    SlowRows(record->fault, height, &record->rowsDone);
    if (pixels != nullptr && picture.Jpeg() && picture.jpegPicture.RowsInOrder()) {
        record->rowsDone = 0;
        record->rowsInOrder = 1;
    }
    uint8_t* alpha = pixels != nullptr && alphaBytes != 0 ? pixels + colourBytes : nullptr;
    DecodeOutcome outcome = DecodeOutcome::damaged;
    record->alpha = false;
    if (pixels != nullptr && picture.Jpeg()) {
        if (picture.jpegPicture.CopyInto(pixels, record->stride, &record->rowsDone))
            outcome = DecodeOutcome::decoded;
        else
            outcome = LibraryAnswer(picture.jpegPicture, record);
    } else if (pixels != nullptr && picture.Webp()) {
        WebpPicture& webp = picture.webpPicture;
        if (webp.CopyInto(pixels, record->stride, &record->rowsDone, alpha, record->alphaStride))
            outcome = DecodeOutcome::decoded;
        else
            outcome = LibraryAnswer(webp, record);
        record->alpha = outcome == DecodeOutcome::decoded && webp.Translucent();
    } else if (pixels != nullptr && picture.Heif()) {
        HeifPicture& heif = picture.heifPicture;
        if (heif.CopyInto(pixels, record->stride, &record->rowsDone, alpha, record->alphaStride))
            outcome = DecodeOutcome::decoded;
        else
            outcome = LibraryAnswer(heif, record);
        record->alpha = outcome == DecodeOutcome::decoded && heif.Translucent();
    } else if (pixels != nullptr) {
        DecodedPicture& platform = picture.platformPicture;
        if (platform.CopyInto(pixels, record->stride, &record->rowsDone, alpha, record->alphaStride))
            outcome = DecodeOutcome::decoded;
        record->alpha = outcome == DecodeOutcome::decoded && platform.Translucent();
    }
    if (pixels != nullptr)
        UnmapViewOfFile(pixels);
    CloseHandle(section);
    return outcome;
}

// The child's open: the size as shown, and whether the picture can be
// transparent.
DecodeOutcome OpenPicture(DecoderControl* record, HeldPicture& picture)
{
    picture.kind = static_cast<ContainerKind>(record->kind);
    if (picture.Webp()) {
        // WebP has no orientation: the probe's 1 stands.
        if (!picture.webpPicture.Open(record->path))
            return LibraryAnswer(picture.webpPicture, record);
        record->width = picture.webpPicture.Width();
        record->height = picture.webpPicture.Height();
        record->alpha = picture.webpPicture.HasAlpha();
        return DecodeOutcome::decoded;
    }
    if (picture.Heif()) {
        // The file's own transforms turn it; its EXIF orientation, which
        // says the same turn again, is not applied (the probe's stays 1).
        const int64_t side = record->declaredWidth > record->declaredHeight ? record->declaredWidth
                                                                            : record->declaredHeight;
        if (!picture.heifPicture.Open(record->path, side, record->memoryBytes))
            return LibraryAnswer(picture.heifPicture, record);
        record->width = picture.heifPicture.Width();
        record->height = picture.heifPicture.Height();
        record->alpha = picture.heifPicture.HasAlpha();
        return DecodeOutcome::decoded;
    }
    if (picture.Jpeg()) {
        if (!picture.jpegPicture.Open(record->path, record->orientation, record->memoryBytes))
            return LibraryAnswer(picture.jpegPicture, record);
        record->width = picture.jpegPicture.Width();
        record->height = picture.jpegPicture.Height();
        record->alpha = false;
        return DecodeOutcome::decoded;
    }
    DecodedPicture& platform = picture.platformPicture;
    if (!platform.Open(record->path, record->orientation, record->firstBytes))
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
    // The three handle values follow the program's name.
    const wchar_t* at = wcschr(commandLine, L' ');
    wchar_t* end = nullptr;
    HANDLE handles[3] = {};
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
            const DecodeOutcome outcome = CopyRows(record, picture);
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
