// The read path of the picture library (see read.h).
#include "read/read.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "formats/bytes.h"
#include "read/metadata_file.h"
#include "read/pixels.h"
#include "read/refusals.h"
#include "support/guarded_read.h"
#include "support/pieces.h"
#include "support/system.h"
#include "support/utf8.h"

namespace {

// Under Wine a read fills memory whose pages are already mapped about twice
// as fast as a freshly allocated block, whose pages the system maps one
// fault at a time during the read. So each piece of the picture's buffer is
// written once, a byte a page, before the file's bytes go into it.
const uint32_t kReadPiece = 1u << 22;

// Mapping a fresh page costs far more than reading its bytes in the virtual
// machines we run on, and two threads map pages faster than one. So the
// buffer's pieces are touched, a byte a page, on every core at once (made,
// in the hand-off's words), while this thread reads the file into those
// already touched, in order, touching the next itself rather than wait.
class ReadPieces final : public PieceWork {
public:
    ReadPieces(FileRecord& file, uint8_t* start, uint32_t bytes) : file_(file), start_(start), bytes_(bytes) {}
    Failure Make(size_t k, size_t, uint32_t) override
    {
        uint8_t* const piece = start_ + k * kReadPiece;
        for (uint32_t at = 0; at < Size(k); at += 4096)
            static_cast<volatile uint8_t*>(piece)[at] = 0;
        return Failure();
    }
    Failure Write(size_t k, size_t) override
    {
        return ReadBytes(file_, start_ + k * kReadPiece, Size(k)) ? Failure() : FailureOf(file_);
    }

private:
    uint32_t Size(size_t k) const
    {
        const uint32_t at = static_cast<uint32_t>(k) * kReadPiece;
        return bytes_ - at < kReadPiece ? bytes_ - at : kReadPiece;
    }

    FileRecord& file_;
    uint8_t* start_;
    uint32_t bytes_;
};

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

// The probe over an open file. On a failed read, `error` is the error the
// file layer would report: the platform's, or a short read when the file
// is now shorter than it was.
ProbeResult ProbeOpenFile(HANDLE file, uint16_t& error, const std::function<void()>& onView = nullptr)
{
    error = 0;
    MappedPicture picture(file);
    if (picture.Error() != 0)
        return ProbeResult();  // a file that cannot be mapped is left to its decoder, unprobed
    if (onView)
        onView();
    const ProbeResult result = ProbeContainer(picture);
    if (result.verdict == ProbeVerdict::unreadable) {
        LARGE_INTEGER size = {};
        error = GetFileSizeEx(file, &size) ? uint16_t{kErrorShortRead} : MapPlatformError(GetLastError());
    }
    return result;
}

}  // namespace

int64_t AlphaRowBytes(int64_t width) { return (width + 3) / 4 * 4; }

namespace {

// Whether the picture's rows, with its alpha plane when it brings one, stay
// within the 2 GB a picture may hold.
bool PlanesFitInMemory(int64_t width, int64_t rows, bool alpha)
{
    if (!alpha)
        return PixelsFitInMemory(width, rows);
    // Divided, not multiplied, as PixelsFitInMemory does.
    return rows <= 0 || RowBytes(width) + AlphaRowBytes(width) <= 0x7FFFFFFF / rows;
}

// The failure of an operation on `file`, which is let go of.
Failure Abandoned(FileRecord& file)
{
    Abandon(file);
    return FailureOf(file);
}

// A read-only view of the whole file whose rows SeekToPictureRows found all
// there, with its file and mapping; `mapped` false, with nothing held,
// where the platform gives no view.
//
// Reading the rows would cost more than the bytes: every page of a fresh
// buffer is mapped one fault at a time, while the view's pages are the
// system's file cache already.
Failure MapRows(const PictureHeader& header, HANDLE& file, HANDLE& mapping, const uint8_t*& view, bool& mapped)
{
    mapped = false;
    FileRecord* rows = nullptr;
    if (Failure failure = SeekToPictureRows(header, rows))
        return failure;
    // The picture keeps a handle of its own on the file the checks were
    // made on, past the header's. It shares only reads: no other program
    // writes, shortens or deletes the picture while it is held.
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, rows->handle, process, &file, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        file = nullptr;
        return Failure();
    }
    mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    view = mapping != nullptr ? static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (view == nullptr) {
        if (mapping != nullptr)
            CloseHandle(mapping);
        CloseHandle(file);
        file = mapping = nullptr;
        return Failure();
    }
    mapped = true;
    return Failure();
}

// Reads the rows from the file into a block of memory.
Failure ReadRows(const PictureHeader& header, uint32_t cores, SourcePicture& picture)
{
    FileRecord* file = nullptr;
    if (Failure failure = SeekToPictureRows(header, file))
        return failure;
    const uint32_t bytes = static_cast<uint32_t>(picture.stride) * static_cast<uint32_t>(picture.height);
    if (Failure failure = AllocatePixelBuffer(bytes, picture.memory, picture.pixels))
        return failure;

    // File rows have the buffer's stride. Bottom-up files are the buffer
    // already and go in large reads; top-down rows go in reverse, each served
    // from the file layer's read-ahead.
    if (!header.topDown) {
        const size_t pieces = (size_t{bytes} + kReadPiece - 1) / kReadPiece;
        ReadPieces work(*file, picture.pixels, bytes);
        // Every piece may be touched ahead: the buffer is the picture's own.
        if (Failure failure = RunPieces(work, pieces, std::min<uint32_t>(CoresToUse(cores), 9), pieces))
            return failure;
    } else {
        for (int32_t row = picture.height - 1; row >= 0; --row) {
            if (!ReadBytes(*file, picture.pixels + static_cast<size_t>(row) * picture.stride,
                           static_cast<uint32_t>(picture.stride)))
                return FailureOf(*file);
        }
    }
    // Padding bytes in the file may be anything; in memory they are 0.
    const size_t pixelBytes = 3 * static_cast<size_t>(picture.width);
    if (static_cast<size_t>(picture.stride) != pixelBytes) {
        for (int32_t row = 0; row < picture.height; ++row)
            memset(picture.pixels + static_cast<size_t>(row) * picture.stride + pixelBytes, 0,
                   static_cast<size_t>(picture.stride) - pixelBytes);
    }
    return Failure();
}

// A picture that is not our own kind of BMP: refused with its sentence, or
// opened by the decoding process.
Failure OpenInDecoder(const PictureRequest& request, DecoderProcess& decoder, FileRecord& file, uint64_t fileSize,
                      const ProbeResult& probe, const char* readerSentence, PictureHeader& header)
{
    const char* name = request.name.c_str();
    const uint8_t* h = header.fileHeader;
    // An alpha plane may come with any kind but JPEG; before decoding it is
    // counted wherever it may.
    const bool alphaMayCome = request.keepAlpha && probe.kind != ContainerKind::jpeg;
    if (probe.width > 0 && !PlanesFitInMemory(probe.width, probe.height, alphaMayCome)) {
        // A picture too large to hold is refused as that, though its file be
        // too short for it besides.
        char sentence[1024];
        TooLargeSentence(name, probe.width, probe.height, sentence, sizeof sentence);
        return Refuse("%s", sentence);
    }
    if (fileSize < kBmpHeaderSize && probe.verdict != ProbeVerdict::fine) {
        // Too short even for a BMP header: the read of it fails, as a short file's read does.
        FailShortFile(file, FileFault::tooShortForAPicture);
        return FailureOf(file);
    }
    if (probe.verdict == ProbeVerdict::damaged)
        return Refuse("%s is damaged: %s.", name, ProbeClauseWords(probe.clause));
    if (probe.verdict == ProbeVerdict::unsupported)
        return Refuse("%s is %s, a kind duotint cannot read.", name, ProbeClauseWords(probe.clause));
    if (probe.kind == ContainerKind::bmp && IsOurKindOfBmp(h))
        return Refuse("%s", readerSentence);
    // The decoding process reads the file the probe read, handed a section
    // of it: one replaced since under its name is not it.
    const DecodeRequest decode = {file.handle, probe.orientation, probe.width, probe.height, alphaMayCome,
                                  probe.kind};
    if (request.onSized)
        request.onSized(probe);
    DecodeOutcome outcome = decoder.Open(decode);
    header.alpha = request.keepAlpha && decoder.HasAlpha();
    if (outcome == DecodeOutcome::decoded && !PlanesFitInMemory(decoder.Width(), decoder.Height(), header.alpha))
        outcome = DecodeOutcome::tooLarge;
    if (outcome != DecodeOutcome::decoded)
        return RefuseDecoded(outcome, probe.kind, name, h, decoder);
    return Failure();
}

}  // namespace

OpenedPicture::~OpenedPicture()
{
    if (record != nullptr)
        Abandon(*record);
}

Failure ReadPictureHeader(const PictureRequest& request, DecoderProcess& decoder, PictureHeader& header)
{
    header = PictureHeader();
    auto opened = std::make_shared<OpenedPicture>();
    opened->path = request.path;
    opened->record = NewFileRecord();
    FileRecord* const file = opened->record.get();
    BindFileW(*file, opened->path.c_str());
    if (!OpenForReading(*file))
        return FailureOf(*file);
    const uint64_t fileSize = FileSize(*file);
    if (file->error != 0)
        return Abandoned(*file);
    if (fileSize >= kBmpHeaderSize && !ReadBytes(*file, header.fileHeader, kBmpHeaderSize))
        return Abandoned(*file);

    const char* name = request.name.c_str();
    ImageHeaderFacts facts;
    char readerSentence[512];
    const bool ours = fileSize >= kBmpHeaderSize &&
                      ParseImageHeader(header.fileHeader, name, facts, readerSentence, sizeof readerSentence);
    // The probe reads the file through the handle the header came from, so
    // that it reads the same file: one removed or replaced since is not it.
    ProbeResult probe;
    if (!ours) {
        uint16_t error = 0;
        probe = ProbeOpenFile(file->handle, error, request.onProbeView);
        if (error != 0) {
            FailFile(*file, error);
            return Abandoned(*file);
        }
    }
    if (ours) {
        if (request.onSized) {
            probe.kind = ContainerKind::bmp;
            probe.width = facts.width;
            probe.height = facts.height;
            request.onSized(probe);
        }
        header.file = std::move(opened);
        header.width = facts.width;
        header.height = facts.height;
        header.ours = true;
        header.topDown = facts.topDown != 0;
        header.pixelDataOffset = facts.dataOffset;
        decoder.Release();  // a picture from before, not copied
        return Failure();
    }

    // Whatever refuses the picture, the decoder holds none of it after.
    if (Failure failure = OpenInDecoder(request, decoder, *file, fileSize, probe, readerSentence, header)) {
        decoder.Release();
        header.alpha = false;
        return failure;
    }
    header.file = std::move(opened);
    header.width = static_cast<int32_t>(decoder.Width());
    header.height = static_cast<int32_t>(decoder.Height());
    return Failure();
}

namespace {

// A header holds its file from ReadPictureHeader until it lets go of it (the
// editor's ReleaseSourcePixels); read through after that, or through a
// header never read, it fails as a file that is not open, never as a crash.
Failure HeldFileFailure(const PictureHeader& header)
{
    const OpenedPicture* opened = header.file.get();
    if (opened != nullptr && opened->record != nullptr && opened->record->isOpen)
        return Failure();
    if (opened == nullptr || opened->path.empty())
        return Refusal(kErrorNotOpen, "duotint could not read the picture: its file is not open.");
    Failure failure;
    failure.code = kErrorNotOpen;
    failure.file = opened->path;
    return failure;
}

}  // namespace

Failure SeekToPictureRows(const PictureHeader& header, FileRecord*& rows)
{
    rows = nullptr;
    if (Failure failure = HeldFileFailure(header))
        return failure;
    FileRecord& file = *header.file->record;
    rows = &file;
    // Every row, the last one's padding included, must be in the file; a
    // shorter file ends here, before any memory is taken for it.
    const uint64_t fileSize = FileSize(file);
    if (file.error != 0)
        return FailureOf(file);
    const uint64_t bytes =
        static_cast<uint64_t>(RowStride(header.width).stride) * static_cast<uint32_t>(header.height);
    if (fileSize < static_cast<uint64_t>(header.pixelDataOffset) + bytes) {
        FailFile(file, kErrorShortRead);
        return FailureOf(file);
    }
    // A palette or a longer info header may stand between the 54 header
    // bytes and the pixels.
    if (!SeekForReading(file, header.pixelDataOffset))
        return FailureOf(file);
    return Failure();
}

// What waiting for a picture's rows needs: the decoding process that
// writes them, and what its refusal names.
struct SourcePicture::Arrival {
    DecoderProcess* decoder = nullptr;
    std::string name;
    uint8_t fileHeader[kBmpHeaderSize] = {};
};

Failure LoadPicture(const PictureRequest& request, const PictureHeader& header, DecoderProcess& decoder,
                    SourcePicture& picture)
{
    picture.Release();
    picture.width = header.width;
    picture.height = header.height;
    picture.stride = RowStride(header.width).stride;
    if (!header.ours) {
        const int32_t alphaStride = header.alpha ? static_cast<int32_t>(AlphaRowBytes(header.width)) : 0;
        // An opaque picture can be read as its rows come; one with alpha
        // is known opaque or not only at its end.
        const bool asTheyCome = request.rowsAsTheyCome && alphaStride == 0;
        // Rows that come in order from the top may stream through a ring.
        if (asTheyCome && decoder.RowsInOrder() && request.ringRows > 0 && request.ringRows < picture.height)
            picture.ringRows = request.ringRows;
        const DecodeOutcome outcome =
            asTheyCome ? decoder.BeginCopy(picture.stride, picture.section, picture.pixels, 0, picture.ringRows)
                       : decoder.CopyInto(picture.stride, picture.section, picture.pixels, alphaStride);
        if (outcome == DecodeOutcome::decoded && asTheyCome) {
            auto arrival = std::make_shared<SourcePicture::Arrival>();
            arrival->decoder = &decoder;
            arrival->name = request.name;
            memcpy(arrival->fileHeader, header.fileHeader, sizeof arrival->fileHeader);
            picture.arrival_ = std::move(arrival);
            return Failure();
        }
        if (outcome == DecodeOutcome::decoded) {
            // An opaque picture's straight colour is its flattened colour:
            // it goes on as one without alpha.
            if (decoder.Translucent()) {
                picture.alpha = picture.pixels + static_cast<size_t>(picture.stride) * picture.height;
                picture.alphaStride = alphaStride;
            }
            return Failure();
        }
        Failure failure = RefuseDecoded(outcome, ContainerKind::unknown, request.name.c_str(), header.fileHeader,
                                        decoder);
        decoder.Release();
        picture.Release();
        return failure;
    }
    if (header.RowsStandInFile() && !request.intoMemory) {
        bool mapped = false;
        if (Failure failure = MapRows(header, picture.file_, picture.mapping_, picture.view_, mapped))
            return failure;
        if (mapped) {
            picture.path_ = request.path;
            picture.viewBytes_ = header.pixelDataOffset + static_cast<size_t>(picture.stride) * picture.height;
            // The view is read only: the pointer is not const because a
            // picture read into memory is written.
            picture.pixels = const_cast<uint8_t*>(picture.view_) + header.pixelDataOffset;
            return Failure();
        }
    }
    Failure failure = ReadRows(header, request.cores, picture);
    if (failure)
        picture.Release();
    return failure;
}

Failure SourcePicture::AwaitRows(int32_t rows) const
{
    const Arrival* arrival = arrival_.get();
    if (arrival == nullptr)
        return Failure();
    const DecodeOutcome outcome = arrival->decoder->AwaitRows(rows);
    if (outcome == DecodeOutcome::decoded)
        return Failure();
    return RefuseDecoded(outcome, ContainerKind::unknown, arrival->name.c_str(), arrival->fileHeader,
                         *arrival->decoder);
}

void SourcePicture::LetGo(int32_t rows) const
{
    if (arrival_ != nullptr && ringRows != 0)
        arrival_->decoder->LetGo(rows);
}

Failure SourcePicture::ViewFailure() const
{
    Failure failure;
    failure.code = kErrorShortRead;
    failure.file = path_;
    return failure;
}

Failure SourcePicture::CheckPages() const
{
    if (!IsMapped())
        return Failure();
    const size_t bytes = static_cast<size_t>(stride) * static_cast<uint32_t>(height);
    return PagesReadable(pixels, bytes) ? Failure() : ViewFailure();
}

void SourcePicture::Release()
{
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
        CloseHandle(mapping_);
        CloseHandle(file_);
    } else if (section != nullptr) {
        UnmapViewOfFile(pixels);
        CloseHandle(section);
    } else if (memory != nullptr) {
        GlobalUnlock(memory);
        GlobalFree(memory);
    }
    file_ = mapping_ = nullptr;
    view_ = nullptr;
    viewBytes_ = 0;
    path_.clear();
    section = nullptr;
    memory = nullptr;
    ringRows = 0;
    arrival_.reset();
    pixels = nullptr;
    alpha = nullptr;
    alphaStride = 0;
}

Failure ReadKeptMetadata(const PictureHeader& header, PictureMetadata& kept)
{
    kept = PictureMetadata();
    if (Failure failure = HeldFileFailure(header))
        return failure;
    kept = ReadPictureMetadataFile(header.file->record->handle);
    FitMetadataToOutput(kept, static_cast<uint32_t>(header.width), static_cast<uint32_t>(header.height));
    return Failure();
}
