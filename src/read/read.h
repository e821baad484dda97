// Opening a picture: a path in, the picture's pixels out, or the Failure
// that says why not.
//
// Files our 24-bit reader accepts are read by it exactly; their rows, where
// they stand bottom-up, may be left in the file and mapped rather than
// read. Anything else is probed first: our own reading of its container
// refuses what is damaged, of a kind the platform lacks, or too large,
// before any decoder sees it. What passes is decoded by the caller's
// decoding process, straight into the section that becomes the picture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/bmp_header.h"
#include "formats/metadata.h"
#include "formats/probe.h"
#include "read/decode_process.h"
#include "support/failure.h"
#include "support/file_io.h"

struct PictureRequest {
    // The picture's path, as the file is opened; a relative one is taken
    // from the current folder.
    std::wstring path;
    // How a sentence names the picture (UTF-8): as the person gave it.
    std::string name;
    // The cores that may map a buffer's pages while it is read (0: every one).
    uint32_t cores = 0;
    // Read into memory, never left as a view of the file: a view's page that
    // faults later, under a reader that is not ours, would end the process.
    bool intoMemory = false;
    // Keeps a transparent picture's alpha, for an output that holds it: its
    // colour then stays straight, not flattened onto white.
    bool keepAlpha = false;
    // LoadPicture may return while the decoding process still writes the
    // rows of an opaque picture: an export that reads them top first then
    // starts on the first rows as they come (SourcePicture::AwaitRows).
    bool rowsAsTheyCome = false;
    // With rows as they come, an export that reads them in order and lets
    // go of them as it goes may have them through a ring of this many rows
    // (SourcePicture::ringRows) where the decoding process gives them in
    // order; 0: the whole picture is held.
    int32_t ringRows = 0;
    // Called once the probe's view of the file stands, before the probe
    // reads it: where a test cuts the file short under the view.
    std::function<void()> onProbeView;
    // Called once the picture's kind and size are known (read by our reader,
    // or declared by its container), before it takes any memory: where
    // duotint-cli waits for the picture's share of the memory.
    std::function<void(const ProbeResult&)> onSized;
};

// A picture's file, open for reading under the name it is bound to; closed
// with the last header that holds it.
struct OpenedPicture {
    std::wstring path;
    std::unique_ptr<FileRecord> record;
    OpenedPicture() = default;
    OpenedPicture(const OpenedPicture&) = delete;
    OpenedPicture& operator=(const OpenedPicture&) = delete;
    ~OpenedPicture();
};

// What ReadPictureHeader found: the size, and where the rows are to come from.
struct PictureHeader {
    int32_t width = 0;
    int32_t height = 0;
    // Our reader has it: its rows stand in the file from pixelDataOffset,
    // top row first when topDown. Otherwise the decoding process holds it.
    bool ours = false;
    bool topDown = false;
    uint32_t pixelDataOffset = 0;
    // The decoding process is to give an alpha plane: the request keeps
    // alpha, and the picture's pixels can be transparent.
    bool alpha = false;
    // The file's first bytes, as many as a BMP header has (zeros past the end).
    uint8_t fileHeader[kBmpHeaderSize] = {};
    // The picture's file, open for reading from ReadPictureHeader until the
    // header lets go of it: the rows and the metadata are read through it,
    // so every reader reads the file the probe passed, opened once. It
    // shares only reads: nobody writes the picture meanwhile.
    std::shared_ptr<OpenedPicture> file;

    // Whether the rows stand in the file bottom-up, as the picture holds them.
    bool RowsStandInFile() const { return ours && !topDown; }
};

// A picture's pixels, bottom-up rows of blue, green and red, `stride` bytes
// apart, and for a transparent picture whose request keeps alpha, its alpha.
// It owns where they live: a block of memory, the section the
// decoding process filled, or a read-only view of the picture's own file
// (held open, shared for reading only, so that nobody writes it meanwhile).
class SourcePicture {
public:
    SourcePicture() = default;
    ~SourcePicture() { Release(); }
    SourcePicture(const SourcePicture&) = delete;
    SourcePicture& operator=(const SourcePicture&) = delete;

    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    uint8_t* pixels = nullptr;
    // A byte a pixel, rows as the pixels' but `alphaStride` bytes apart; the
    // pixels' colour is then straight. Null when every pixel is opaque, or
    // the request did not keep alpha: the colour is flattened onto white.
    uint8_t* alpha = nullptr;
    int32_t alphaStride = 0;
    HGLOBAL memory = nullptr;   // when read into memory
    HANDLE section = nullptr;   // when the decoding process filled it
    // Not 0: the pixels hold only this many rows, a ring the decoding
    // process writes as it goes (DecoderProcess::BeginCopy): shown row y in
    // slot y % ringRows, the slots bottom-up. The reader takes the rows in
    // order and lets go of each once done with it, or the copy never ends.
    int32_t ringRows = 0;

    // Whether the pixels are a view of the file, whose pages fault once
    // another program cuts it short: read them through GuardedCopy.
    bool IsMapped() const { return view_ != nullptr; }
    // The file's path, for a failure of the view.
    const std::wstring& Path() const { return path_; }
    // The bytes the view covers from its start: the file's header and rows.
    const uint8_t* View() const { return view_; }
    size_t ViewBytes() const { return viewBytes_; }
    // A read of the view that failed: error 100 on the picture's file.
    Failure ViewFailure() const;
    // Reads a byte of each page through GuardedCopy: before a reader that is
    // not ours reads the view in place.
    Failure CheckPages() const;

    // Whether the decoding process may still be writing the rows.
    bool Arriving() const { return arrival_ != nullptr; }
    // Waits until the top `rows` rows are in place, watching the decoding
    // process; asked for every row, until the picture is known whole. It
    // fails as the load would have, with the decoding's refusal. A picture
    // not Arriving has every row already. Any thread may wait; through a
    // ring, one thread awaits the rows, in order (DecoderProcess::AwaitRows).
    Failure AwaitRows(int32_t rows) const;
    // The top `rows` rows of a ring are done with: their slots may take
    // the rows below. Any thread may let go, in any order.
    void LetGo(int32_t rows) const;

    void Release();

private:
    friend Failure LoadPicture(const PictureRequest&, const PictureHeader&, DecoderProcess&, SourcePicture&);
    struct Arrival;
    std::shared_ptr<const Arrival> arrival_;
    HANDLE file_ = nullptr;
    HANDLE mapping_ = nullptr;
    const uint8_t* view_ = nullptr;
    size_t viewBytes_ = 0;
    std::wstring path_;
};

// Reads what the picture is and how large; refuses what cannot be read. A
// picture for the platform's decoders is decoded by `decoder` and stays
// held there until LoadPicture (or the decoder's next picture).
Failure ReadPictureHeader(const PictureRequest& request, DecoderProcess& decoder, PictureHeader& header);

// The pixels of the picture ReadPictureHeader accepted.
Failure LoadPicture(const PictureRequest& request, const PictureHeader& header, DecoderProcess& decoder,
                    SourcePicture& picture);

// The header's file at the picture's first pixel row, once every row is
// known to be there: for an export that reads the rows as it writes them.
Failure SeekToPictureRows(const PictureHeader& header, FileRecord*& rows);

// The bytes of a row of an alpha plane `width` pixels wide: a byte a pixel,
// rounded up to 4.
int64_t AlphaRowBytes(int64_t width);


// What the picture's file carries besides its pixels, fitted to the picture
// as read (upright, width x height), for a PNG or JPEG export; it fails,
// keeping nothing, where the header no longer holds the file.
Failure ReadKeptMetadata(const PictureHeader& header, PictureMetadata& kept);
