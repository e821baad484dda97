// The read path. Files our 24-bit reader accepts are read by it exactly, with
// its runtime errors; their rows, where they stand bottom-up, are mapped
// rather than read. Anything else is probed first: our own reading of its
// container refuses what is damaged, of a kind the platform lacks, or too
// large, before any decoder sees it. What passes is decoded in a process of
// its own, straight into the section that becomes sourceImage.
#include "editor/picture.h"

#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "editor/program_state.h"
#include "picture/bmp.h"
#include "picture/bytes.h"
#include "picture/decode_process.h"
#include "picture/export.h"
#include "picture/metadata_file.h"
#include "picture/probe.h"
#include "support/error.h"
#include "support/file_io.h"
#include "support/guarded_read.h"
#include "support/picture_names.h"
#include "support/utf8.h"

namespace {

// This thread's decoding process, which serves every picture the thread
// reads that our reader refuses: per thread by nature, since a child
// answers one request at a time. It holds a picture from ReadImageHeader to
// the end of LoadSourcePixels; holding none, our reader has the picture.
thread_local DecoderProcess decoder;

// Under Wine a read fills memory whose pages are already mapped about twice
// as fast as a freshly allocated block, whose pages the system maps one
// fault at a time during the read. So each piece of the picture's buffer is
// written once, a byte a page, before the file's bytes go into it.
const uint32_t kReadPiece = 1u << 22;
const uint32_t kMostReadPieces = 1024;  // 4 GiB

void TouchPages(uint8_t* start, uint32_t size)
{
    for (uint32_t at = 0; at < size; at += 4096)
        static_cast<volatile uint8_t*>(start)[at] = 0;
}

// Mapping a fresh page costs far more than reading its bytes in the virtual
// machines we run on, and two threads map pages faster than one. So helper
// threads touch the buffer's pieces while the reader reads those already
// touched, and the reader touches the next unclaimed one itself rather than
// wait.
struct PageTouch {
    uint8_t* start;
    uint32_t bytes;
    LONG pieces;
    volatile LONG next;                      // the next piece to claim
    volatile LONG touched[kMostReadPieces];  // 1 once its pages are mapped
};

// Touches the next unclaimed piece; false when every one is claimed.
bool TouchNextPiece(PageTouch& t)
{
    const LONG k = InterlockedIncrement(&t.next) - 1;
    if (k >= t.pieces)
        return false;
    const uint32_t at = static_cast<uint32_t>(k) * kReadPiece;
    TouchPages(t.start + at, t.bytes - at < kReadPiece ? t.bytes - at : kReadPiece);
    InterlockedExchange(&t.touched[k], 1);
    return true;
}

DWORD WINAPI TouchAhead(void* t)
{
    while (TouchNextPiece(*static_cast<PageTouch*>(t))) {
    }
    return 0;
}

// The helpers, stopped and waited for however the read ends: a failed read
// ends it by an exception in duotint-cli, and the buffer is freed after.
class PageTouchers {
public:
    PageTouchers(PageTouch& t, uint32_t helpers) : t_(t)
    {
        for (uint32_t i = 0; i < helpers && i < 8; ++i) {
            HANDLE thread = CreateThread(nullptr, 0, TouchAhead, &t_, 0, nullptr);
            if (thread != nullptr)
                threads_[count_++] = thread;
        }
    }
    ~PageTouchers()
    {
        InterlockedExchange(&t_.next, t_.pieces);  // no piece is claimed from here on
        for (uint32_t i = 0; i < count_; ++i) {
            WaitForSingleObject(threads_[i], INFINITE);
            CloseHandle(threads_[i]);
        }
    }
    // Returns once piece k's pages are mapped.
    void AwaitPiece(LONG k)
    {
        while (t_.touched[k] == 0)
            if (!TouchNextPiece(t_))
                SwitchToThread();  // the helper that claimed it may be waiting for this core
    }

private:
    PageTouch& t_;
    HANDLE threads_[8] = {};
    uint32_t count_ = 0;
};

// The threads beside this one that may touch the picture's pages: the
// export's share of the cores, less this thread.
uint32_t TouchHelpers()
{
    const uint32_t cores = CoresToUse(state.exportCores);
    return cores > 1 ? cores - 1 : 0;
}

// The picture's full path: the decoding process starts in a folder of its
// own, since Wine cannot start one in a folder deeper than MAX_PATH.
std::wstring PicturePathW()
{
    if (state.picturePath != nullptr)
        return state.picturePath;
    wchar_t name[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, state.fileNamePtr, -1, name, MAX_PATH) == 0)
        return std::wstring();
    return FullPath(name);
}

// The picture file through a read-only view of the whole of it: the probe
// touches only the pages of what it reads. The view is read only through
// GuardedCopy, so a file cut short by another program, or a disk gone,
// while the probe reads it fails the read instead of the process.
class MappedPicture final : public ByteSource {
public:
    explicit MappedPicture(HANDLE file)
    {
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file, &size)) {
            error_ = GetLastError();
            return;
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
        if (size_ == 0)
            return;  // an empty file cannot be mapped, and holds nothing to read
        mapping_ = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping_ != nullptr)
            view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        if (view_ == nullptr)
            error_ = GetLastError();
    }
    ~MappedPicture()
    {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        if (mapping_ != nullptr)
            CloseHandle(mapping_);
    }
    MappedPicture(const MappedPicture&) = delete;
    MappedPicture& operator=(const MappedPicture&) = delete;

    // 0 once the view stands (or the file is empty); else the platform's error.
    DWORD Error() const { return error_; }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t at, void* to, size_t count) override
    {
        return view_ != nullptr && at <= size_ && count <= size_ - at && GuardedCopy(to, view_ + at, count) == count;
    }

private:
    uint64_t size_ = 0;
    HANDLE mapping_ = nullptr;
    const uint8_t* view_ = nullptr;
    DWORD error_ = 0;
};

// Test-only: with DUOTINT_PROBE_HOLD naming a file, the probe makes that
// file once its view stands and waits, up to 30 s, until it is gone, so
// that a test can cut the picture short under the view.
void HoldForTest()
{
    const char* hold = getenv("DUOTINT_PROBE_HOLD");
    if (hold == nullptr)
        return;
    HANDLE marker = CreateFileA(hold, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    for (int waited = 0; waited < 3000 && GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(10);
}

// The probe over an open file. On a failed read, `error` is the error the
// file layer would report: the platform's, or a short read when the file
// is now shorter than it was.
ProbeResult ProbeOpenFile(HANDLE file, uint16_t& error)
{
    error = 0;
    MappedPicture picture(file);
    if (picture.Error() != 0)
        return ProbeResult();  // a file that cannot be mapped is left to its decoder, unprobed
    HoldForTest();
    const ProbeResult result = ProbeContainer(picture);
    if (result.verdict == ProbeVerdict::unreadable) {
        LARGE_INTEGER size = {};
        error = GetFileSizeEx(file, &size) ? uint16_t{kErrorShortRead} : MapPlatformError(GetLastError());
    }
    return result;
}

}  // namespace

ProbeResult ProbePictureFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ProbeResult();
    uint16_t error = 0;
    ProbeResult result = ProbeOpenFile(file, error);
    CloseHandle(file);
    return error == 0 ? result : ProbeResult();
}

namespace {

[[noreturn]] void Refuse(const char* format, ...)
{
    char sentence[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(sentence, sizeof sentence, format, arguments);
    va_end(arguments);
    decoder.Release();
    EndWithSentence(kErrorRefusedPicture, sentence);
}

const char* KindName(ContainerKind kind)
{
    switch (kind) {
    case ContainerKind::bmp: return "BMP";
    case ContainerKind::png: return "PNG";
    case ContainerKind::jpeg: return "JPEG";
    case ContainerKind::gif: return "GIF";
    case ContainerKind::tiff: return "TIFF";
    default: return nullptr;
    }
}

// Whether a BMP header is of the one kind our reader reads: those are
// decided by it alone, never handed on.
bool IsOurKindOfBmp(const uint8_t* h)
{
    return h[0] == 'B' && h[1] == 'M' && Read32(h + 14) >= 40 && Read16(h + 26) == 1 && Read16(h + 28) == 24 &&
           Read32(h + 30) == 0;
}

// "a 24-bit", "an 8-bit": the bits per pixel of a BMP header with its article.
std::string BitsPerPixel(const uint8_t* h)
{
    const unsigned bits = Read16(h + 28);
    std::string number = std::to_string(bits);
    const bool an = number[0] == '8' || bits == 11 || bits == 18 || (number.size() % 3 == 2 && number[0] == '1' &&
                                                                      (number[1] == '1' || number[1] == '8'));
    return (an ? "an " : "a ") + number + "-bit";
}

// The compression of a BMP the platform could not read, when it says more
// than its bits: bit fields in a Windows header, Huffman coding in OS/2's.
const char* BmpCompressionWords(const uint8_t* h)
{
    const uint32_t infoSize = Read32(h + 14), compression = Read32(h + 30);
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

// Why the decoding of a picture the probe let through came to nothing.
[[noreturn]] void RefuseDecoded(DecodeOutcome outcome, ContainerKind kind)
{
    const char* name = state.fileNamePtr;
    const DecodeBudget budget = decoder.Budget();
    const uint8_t* h = state.fileHeader;
    switch (outcome) {
    case DecodeOutcome::cannotDecode:
        if (kind == ContainerKind::bmp && *BmpCompressionWords(h) != '\0')
            Refuse("%s is %s BMP picture%s, a kind duotint cannot read.", name, BitsPerPixel(h).c_str(),
                   BmpCompressionWords(h));
        if (kind == ContainerKind::bmp)
            Refuse("%s is %s BMP picture that duotint cannot read; it may be damaged.", name, BitsPerPixel(h).c_str());
        if (KindName(kind) != nullptr)
            Refuse("%s is a %s picture that duotint cannot read; it may be damaged.", name, KindName(kind));
        Refuse("%s is not a picture duotint can read.", name);
    case DecodeOutcome::damaged:
        Refuse("%s is damaged; duotint could not read all of its pixels.", name);
    case DecodeOutcome::crashed:
        Refuse("%s could not be decoded: its decoder crashed.", name);
    case DecodeOutcome::tooSlow:
        Refuse("%s could not be decoded: its decoder was stopped after %s s of work, longer than a picture of its "
               "size needs.",
               name, SecondsText(budget.cpuMilliseconds).c_str());
    case DecodeOutcome::stalled:
        Refuse("%s could not be decoded: its decoder was stopped after %s s without progress.", name,
               SecondsText(budget.wallMilliseconds).c_str());
    case DecodeOutcome::tooHungry:
        Refuse("%s could not be decoded: its decoder was stopped when it took more than %llu MiB of memory.", name,
               static_cast<unsigned long long>(budget.memoryBytes >> 20));
    case DecodeOutcome::tooLarge: {
        char sentence[1024];
        TooLargeSentence(name, decoder.Width(), decoder.Height(), sentence, sizeof sentence);
        Refuse("%s", sentence);
    }
    case DecodeOutcome::noChild:
        if (decoder.StartError() == ERROR_FILE_NOT_FOUND || decoder.StartError() == ERROR_PATH_NOT_FOUND)
            Refuse("duotint could not start duotint-decode.exe to read %s; it belongs beside %s.", name,
                   ProgramFileName().c_str());
        Refuse("duotint could not start duotint-decode.exe to read %s: the system refused it (error %u).", name,
               decoder.StartError());
    case DecodeOutcome::noMemory:
        decoder.Release();
        EndWithSentence(kErrorOutOfMemory,
                        "duotint could not get the memory for the picture; close other programs and try again.");
    default:
        Refuse("%s could not be decoded: the file is damaged, or its kind cannot be read here.", name);
    }
}

}  // namespace

void BindPicture() { BindPictureTo(state.imageFile); }

void BindPictureTo(FileRecord& file)
{
    if (state.picturePath != nullptr)
        BindFileW(file, state.picturePath);
    else
        BindFile(file, state.fileNamePtr);
}

void StartDecoder() { decoder.Start(); }

void EndDecoder() { decoder.Close(); }

void ReadImageHeader()
{
    BindPicture();
    OpenForReading(state.imageFile);
    CheckIo();
    uint64_t fileSize = FileSize(state.imageFile);
    CheckIo();
    memset(state.fileHeader, 0, sizeof state.fileHeader);
    if (fileSize >= kBmpHeaderSize) {
        ReadBytes(state.imageFile, state.fileHeader, kBmpHeaderSize);
        CheckIo();
    }

    ImageHeaderFacts facts;
    char readerSentence[512];
    const bool ours = fileSize >= kBmpHeaderSize &&
                      ParseImageHeader(state.fileHeader, state.fileNamePtr, facts, readerSentence, sizeof readerSentence);
    // The probe reads the file through the handle the header came from, so
    // that it reads the same file: one removed or replaced since is not it.
    ProbeResult probe;
    if (!ours) {
        uint16_t error = 0;
        probe = ProbeOpenFile(state.imageFile.handle, error);
        errorState.pendingIoError = error;
        CheckIo();
    }
    CloseFile(state.imageFile);
    CheckIo();
    if (ours) {
        state.imageWidth = facts.width;
        state.imageHeight = facts.height;
        state.topDown = facts.topDown;
        state.pixelDataOffset = facts.dataOffset;
        decoder.Release();  // a picture from before, not copied
        return;
    }

    const std::wstring path = PicturePathW();
    // A picture too large to hold is refused as that, though its file be
    // too short for it besides.
    if (probe.width > 0 && !PixelsFitInMemory(probe.width, probe.height)) {
        char sentence[1024];
        TooLargeSentence(state.fileNamePtr, probe.width, probe.height, sentence, sizeof sentence);
        Refuse("%s", sentence);
    }
    if (fileSize < kBmpHeaderSize && probe.verdict != ProbeVerdict::fine) {
        // Too short even for a BMP header: the read of it fails, as a short file's read does.
        FailShortFile(state.imageFile, FileFault::tooShortForAPicture);
        CheckIo();
    }
    if (probe.verdict == ProbeVerdict::damaged)
        Refuse("%s is damaged: %s.", state.fileNamePtr, probe.what);
    if (probe.verdict == ProbeVerdict::unsupported)
        Refuse("%s is %s, a kind duotint cannot read.", state.fileNamePtr, probe.what);
    if (probe.kind == ContainerKind::bmp && IsOurKindOfBmp(state.fileHeader))
        Refuse("%s", readerSentence);

    const DecodeRequest request = {path.c_str(), probe.orientation, probe.width, probe.height, probe.firstFrameEnd};
    DecodeOutcome outcome = decoder.Open(request);
    if (outcome == DecodeOutcome::decoded && !PixelsFitInMemory(decoder.Width(), decoder.Height()))
        outcome = DecodeOutcome::tooLarge;
    if (outcome != DecodeOutcome::decoded)
        RefuseDecoded(outcome, probe.kind);
    state.imageWidth = static_cast<int32_t>(decoder.Width());
    state.imageHeight = static_cast<int32_t>(decoder.Height());
    state.topDown = 0;
    state.pixelDataOffset = 0;
}

bool RowsStandInFile() { return !decoder.IsOpen() && !state.topDown; }

namespace {

// The stride and padding of sourceImage's rows, and of the picture file's.
void SetSourceRowLayout()
{
    const RowLayout layout = RowStride(state.imageWidth);
    state.srcStride = layout.stride;
    state.srcPad = layout.pad;
}

}  // namespace

void OpenPixelRows(FileRecord& file)
{
    SetSourceRowLayout();
    BindPictureTo(file);
    OpenForReading(file);
    CheckIo();
    // Every row, the last one's padding included, must be in the file; a
    // shorter file ends here, before any memory is taken for it.
    uint64_t fileSize = FileSize(file);
    CheckIo();
    const uint64_t bytes = static_cast<uint64_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight);
    if (fileSize < static_cast<uint64_t>(state.pixelDataOffset) + bytes) {
        errorState.pendingIoError = kErrorShortRead;
        CheckIo();
    }
    ReadBytes(file, state.fileHeader, kBmpHeaderSize);
    CheckIo();
    // A palette or a longer info header may stand between the 54 header
    // bytes and the pixels.
    SkipBytes(file, state.pixelDataOffset - kBmpHeaderSize);
    CheckIo();
}

namespace {

// The picture's file while sourceImage is a view of it: a handle of its own
// (state.imageFile goes on to the export), the mapping, the view from the
// file's start (a view starts at a multiple of the allocation granularity,
// so sourceImage points past the header) and the names a fault reports.
// Plain fields: see PieceBlock in picture/export.cpp on destructors in
// threads' own storage.
struct MappedSource {
    HANDLE file;
    HANDLE mapping;
    const uint8_t* view;
    char* name;
    wchar_t* wideName;
};
thread_local MappedSource mapped;
thread_local bool intoMemory;

void LetGoOfMappedSource()
{
    if (mapped.view == nullptr)
        return;
    ForgetView();
    UnmapViewOfFile(mapped.view);
    CloseHandle(mapped.mapping);
    CloseHandle(mapped.file);
    free(mapped.name);
    free(mapped.wideName);
    mapped = MappedSource{};
}

// Makes sourceImage a view of the picture's rows, after LoadSourcePixels's
// checks; false, with nothing held, where the platform gives no view.
//
// Reading the rows would cost more than the bytes: every page of a fresh
// buffer is mapped one fault at a time, while the view's pages are the
// system's file cache already. The export, the preview and the encoders
// read the view instead.
bool MapSourceRows()
{
    LetGoOfMappedSource();
    OpenPixelRows(state.imageFile);
    // The file the checks were made on stays open past the record's close.
    // Its handle shares only reads: no other program writes, shortens or
    // deletes the picture while the editor shows it.
    const HANDLE process = GetCurrentProcess();
    HANDLE file = nullptr;
    if (!DuplicateHandle(process, state.imageFile.handle, process, &file, 0, FALSE, DUPLICATE_SAME_ACCESS))
        file = nullptr;
    CloseFile(state.imageFile);
    CheckIo();
    if (file == nullptr)
        return false;
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        if (mapping != nullptr)
            CloseHandle(mapping);
        CloseHandle(file);
        return false;
    }
    mapped.file = file;
    mapped.mapping = mapping;
    mapped.view = static_cast<const uint8_t*>(view);
    if (state.picturePath != nullptr)
        mapped.wideName = _wcsdup(state.picturePath);
    else
        mapped.name = _strdup(state.fileNamePtr);  // fileName becomes the export's name
    // The view is read only: the pointer is not const because sourceImage
    // read into memory is written.
    state.sourcePixels = const_cast<uint8_t*>(mapped.view) + state.pixelDataOffset;
    const uint64_t bytes = static_cast<uint64_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight);
    // The preview copies the rows it samples through CopySource, and the
    // export reads each piece's pages through GuardedCopy before they are
    // tinted. The tint and the platform's encoders then read sourceImage in
    // place, on threads of their own, where no copy of ours stands between
    // them and a page that faults: copying every piece out first would add a
    // copy of the picture to every export. A fault there ends the program as a failed
    // read, not as a crash.
    EndOnFaultInView(mapped.view, state.pixelDataOffset + bytes, {mapped.name, mapped.wideName, 0, FileFault::unknown});
    return true;
}

}  // namespace

void ReadSourceIntoMemory() { intoMemory = true; }

bool SourceIsMapped()
{
    return mapped.view != nullptr && state.sourcePixels == mapped.view + state.pixelDataOffset;
}

void CopySource(size_t at, void* to, size_t count)
{
    if (!SourceIsMapped()) {
        memcpy(to, state.sourcePixels + at, count);
        return;
    }
    if (GuardedCopy(to, state.sourcePixels + at, count) != count)
        FailSourceRead();
}

void CheckSourcePages()
{
    if (!SourceIsMapped())
        return;
    const size_t bytes = static_cast<size_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight);
    uint8_t byte;
    for (size_t at = 0; at < bytes; at += 4096)
        CopySource(at, &byte, 1);
    CopySource(bytes - 1, &byte, 1);
}

void FailSourceRead()
{
    errorState.fileInUse = {mapped.name, mapped.wideName, 0, FileFault::unknown};
    errorState.pendingIoError = kErrorShortRead;
    CheckIo();
    Terminate();  // CheckIo ends the program with the pending error; this is never reached
}

void LoadSourcePixels()
{
    if (decoder.IsOpen()) {
        SetSourceRowLayout();
        const DecodeOutcome outcome = decoder.CopyInto(state.srcStride, state.sourceSection, state.sourcePixels);
        if (outcome != DecodeOutcome::decoded)
            RefuseDecoded(outcome, ContainerKind::unknown);
        return;
    }
    if (!state.topDown && !intoMemory && MapSourceRows()) {
        state.row = -1;
        return;
    }

    OpenPixelRows(state.imageFile);
    const uint32_t bytes = static_cast<uint32_t>(state.srcStride) * static_cast<uint32_t>(state.imageHeight);
    AllocatePixelBuffer(bytes, state.sourceHandle, state.sourcePixels);

    // File rows have the buffer's stride. Bottom-up files are the buffer
    // already and go in large reads; top-down rows go in reverse, each served
    // from the file layer's read-ahead.
    if (!state.topDown) {
        static_assert(uint64_t{kReadPiece} * kMostReadPieces > UINT32_MAX, "a piece for every 4 MiB of a buffer");
        const LONG pieces = static_cast<LONG>((uint64_t{bytes} + kReadPiece - 1) / kReadPiece);
        PageTouch touch = {state.sourcePixels, bytes, pieces, 0, {}};
        PageTouchers touchers(touch, TouchHelpers());
        for (LONG k = 0; k < touch.pieces; ++k) {
            const uint32_t done = static_cast<uint32_t>(k) * kReadPiece;
            const uint32_t piece = bytes - done < kReadPiece ? bytes - done : kReadPiece;
            touchers.AwaitPiece(k);
            ReadBytes(state.imageFile, state.sourcePixels + done, piece);
            CheckIo();
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

PictureMetadata ReadKeptMetadata()
{
    PictureMetadata metadata = ReadPictureMetadataFile(PicturePathW().c_str());
    FitMetadataToOutput(metadata, static_cast<uint32_t>(state.imageWidth), static_cast<uint32_t>(state.imageHeight));
    return metadata;
}

void FillExportHeader()
{
    PackExportHeader(state.fileHeader, state.imageWidth, state.imageHeight, state.srcStride);
}

void ReleaseSourcePixels()
{
    LetGoOfMappedSource();
    if (state.sourceSection != nullptr) {
        UnmapViewOfFile(state.sourcePixels);
        CloseHandle(state.sourceSection);
    } else if (state.sourceHandle != nullptr) {
        GlobalUnlock(state.sourceHandle);
        GlobalFree(state.sourceHandle);
    }
    state.sourceSection = nullptr;
    state.sourceHandle = nullptr;
    state.sourcePixels = nullptr;
}
