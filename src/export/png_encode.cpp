// The PNG writer (writer.h), our own encoder. The rows are tinted, filtered
// and compressed in pieces, each on whichever core takes it, and joined into
// one zlib stream: the stream's header once, then each piece as raw deflate
// ended on a byte boundary (an empty stored block), the last by the stream's
// end; their Adler-32 sums combined into the stream's. Up to the default
// level our own runs coder (png_deflate.h) writes the pieces; above it zlib
// does, each piece primed with the 32 KB of filtered bytes before it, so
// that matches reach back across the cut as in one long stream. The thread
// that writes the file compresses pieces too, and writes each as an IDAT
// chunk once those before it are written.
#include "export/writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "export/write.h"
#include "formats/png_deflate.h"
#include "formats/png_format.h"
#include "formats/room.h"
#include "support/pieces.h"

namespace {

enum : size_t { kWindowBytes = 32768 };
// Pieces in flight are two for each thread.

// How the filtered stream (each row: its filter byte, then bpp x width
// bytes) is cut (pieces.h); a cut row's filter is chosen ahead.
struct Plan {
    const TintedSource& source;
    size_t bpp;           // 3 (RGB) or 4 (RGBA)
    size_t rowBytes;      // a row's pixel bytes, without its filter byte
    int level;
    PieceCut cut;
    std::vector<uint8_t> filters;  // each cut row's filter
};

// Tints `count` pixels of row y (0 the top) from pixel x into `out` as RGB,
// with their alpha after them for RGBA, and the pixel before them into the
// bpp bytes before `out`: zeros at the row's start, and all zeros for the
// row above the top one. The tint goes to the colour alone.
void TintSpan(const Plan& p, int64_t y, size_t x, size_t count, uint8_t* out)
{
    const size_t bpp = p.bpp;
    if (y < 0) {
        memset(out - bpp, 0, bpp * count + bpp);
        return;
    }
    const TintedSource& source = p.source;
    const size_t row = static_cast<size_t>(source.height - 1 - y);  // bottom-up
    const uint8_t* from = source.pixels + row * static_cast<size_t>(source.stride) + 3 * x;
    const uint8_t* alpha =
        source.alpha != nullptr ? source.alpha + row * static_cast<size_t>(source.alphaStride) + x : nullptr;
    uint8_t* to = out;
    if (x == 0) {
        memset(out - bpp, 0, bpp);
    } else {
        from -= 3;
        if (alpha != nullptr)
            --alpha;
        to -= bpp;
        ++count;
    }
    const uint8_t* blue = source.tables.channel[0];
    const uint8_t* green = source.tables.channel[1];
    const uint8_t* red = source.tables.channel[2];
    if (alpha != nullptr) {
        for (size_t i = 0; i < count; ++i, from += 3, to += 4) {
            to[0] = red[from[2]];
            to[1] = green[from[1]];
            to[2] = blue[from[0]];
            to[3] = alpha[i];
        }
        return;
    }
    for (size_t i = 0; i < count; ++i, from += 3, to += 3) {
        const uint8_t b = blue[from[0]], g = green[from[1]], r = red[from[2]];
        to[0] = r;
        to[1] = g;
        to[2] = b;
    }
}

// What one thread keeps between its pieces: its compressors and its rows,
// whose memory is reused from piece to piece.
struct Worker {
    z_stream z{};
    bool ready = false;
    RunsDeflater runs;
    std::vector<uint8_t> up, cur, filtered, dictionary;
    ~Worker()
    {
        if (ready)
            deflateEnd(&z);
    }
};

// A compressed piece, kept until its turn to be written.
struct Slot {
    Room bytes;
    size_t size = 0;
    uLong adler = 0;  // of the piece's filtered bytes
    size_t raw = 0;   // how many those are
};

// Appends the filtered stream's bytes [from, to) of a picture with cut rows.
void FilterStreamRange(const Plan& p, Worker& w, size_t from, size_t to, std::vector<uint8_t>& out)
{
    const size_t rowStream = p.rowBytes + 1;
    for (size_t pos = from; pos < to;) {
        const size_t y = pos / rowStream, rowStart = y * rowStream;
        if (pos == rowStart) {
            out.push_back(p.filters[y]);
            ++pos;
            continue;
        }
        const size_t bpp = p.bpp, b0 = pos - rowStart - 1, b1 = std::min(p.rowBytes, to - rowStart - 1);
        const size_t x0 = b0 / bpp, pixels = (b1 + bpp - 1) / bpp - x0;
        w.up.resize(bpp * pixels + bpp);
        w.cur.resize(bpp * pixels + bpp);
        TintSpan(p, static_cast<int64_t>(y) - 1, x0, pixels, w.up.data() + bpp);
        TintSpan(p, static_cast<int64_t>(y), x0, pixels, w.cur.data() + bpp);
        const size_t at = out.size(), skip = bpp + b0 - bpp * x0;
        out.resize(at + b1 - b0);
        ApplyFilter(static_cast<PngFilter>(p.filters[y]), w.up.data() + skip, w.cur.data() + skip, b1 - b0, bpp,
                    out.data() + at);
        pos = rowStart + 1 + b1;
    }
}

// Chooses every cut row's filter, on this thread: rows longer than a piece
// are rare, and their choice needs the whole row.
void ChooseCutRowFilters(Plan& p, Worker& w)
{
    const size_t bpp = p.bpp, width = p.cut.width, partPixels = p.cut.partPixels;
    p.filters.resize(p.cut.height);
    w.up.resize(bpp * partPixels + bpp);
    w.cur.resize(bpp * partPixels + bpp);
    for (int64_t y = 0; y < static_cast<int64_t>(p.cut.height); ++y) {
        uint64_t costs[kFilterCount] = {};
        for (size_t x = 0; x < width; x += partPixels) {
            const size_t n = std::min(partPixels, width - x);
            TintSpan(p, y - 1, x, n, w.up.data() + bpp);
            TintSpan(p, y, x, n, w.cur.data() + bpp);
            AddFilterCosts(w.up.data() + bpp, w.cur.data() + bpp, bpp * n, bpp, costs);
        }
        p.filters[static_cast<size_t>(y)] = CheapestFilter(costs);
    }
}

// Compresses `n` filtered bytes into the slot with `flush`; Z_OK or zlib's error.
int Feed(Worker& w, Slot& slot, const uint8_t* data, size_t n, int flush)
{
    slot.adler = adler32_z(slot.adler, data, n);
    slot.raw += n;
    w.z.next_in = const_cast<Bytef*>(data);
    w.z.avail_in = static_cast<uInt>(n);
    for (;;) {
        if (slot.size == slot.bytes.size())
            slot.bytes.resize(std::max<size_t>(2 * slot.bytes.size(), 1 << 16));
        w.z.next_out = slot.bytes.data() + slot.size;
        w.z.avail_out = static_cast<uInt>(std::min<size_t>(slot.bytes.size() - slot.size, 1u << 30));
        const uInt room = w.z.avail_out;
        const int e = deflate(&w.z, flush);
        slot.size += room - w.z.avail_out;
        if (e == Z_STREAM_END)
            return Z_OK;
        if (e != Z_OK)
            return e;
        // Done once the input is taken and, for a flush, output room is left over.
        if (flush != Z_FINISH && w.z.avail_in == 0 && w.z.avail_out != 0)
            return Z_OK;
    }
}

// Up to the default level, matches are runs only, written by our own
// coder. A photograph's filtered rows are small residuals with few long
// repeats, so the search for repeats costs several times the time of the
// run matching and saves a few per cent at most, and zlib's general
// machinery spends several times our coder's time on each literal; levels
// 7 to 9 search in full with zlib, for drawings and screenshots whose rows
// repeat.
bool RunsOnly(int level) { return level <= 6; }

// Where a piece's filtered bytes go, in order: our runs coder, or zlib
// with the 32 KB before the piece as its dictionary. Z_OK or zlib's error.
struct PieceSink {
    const Plan& p;
    Worker& w;
    Slot& slot;
    bool last;

    int Start(size_t bytes)
    {
        slot.size = 0;
        slot.raw = 0;
        slot.adler = adler32(0, nullptr, 0);
        if (RunsOnly(p.level)) {
            slot.bytes.resize(RunsDeflateBound(bytes));
            w.runs.Begin(slot.bytes.data());
            return Z_OK;
        }
        if (!w.ready) {
            // Raw deflate: the stream's header and checksum are written once, by the writer.
            const int e = deflateInit2(&w.z, p.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            if (e != Z_OK)
                return e;
            w.ready = true;
        } else if (deflateReset(&w.z) != Z_OK) {
            return Z_STREAM_ERROR;
        }
        slot.bytes.resize(deflateBound(&w.z, bytes) + 64);
        return Z_OK;
    }
    bool WantsDictionary() const { return !RunsOnly(p.level); }
    int Dictionary(const uint8_t* data, size_t n)
    {
        return n == 0 || deflateSetDictionary(&w.z, data, static_cast<uInt>(n)) == Z_OK ? Z_OK : Z_STREAM_ERROR;
    }
    // `end`: these are the piece's last bytes.
    int Add(const uint8_t* data, size_t n, bool end)
    {
        if (!RunsOnly(p.level))
            return Feed(w, slot, data, n, end ? (last ? Z_FINISH : Z_FULL_FLUSH) : Z_NO_FLUSH);
        slot.adler = AdlerSum(static_cast<uint32_t>(slot.adler), data, n);
        slot.raw += n;
        w.runs.Add(data, n);
        if (end)
            slot.size = w.runs.End(last);
        return Z_OK;
    }
};

// Filters and compresses piece k into `slot`; Z_OK or zlib's error.
int CompressPiece(const Plan& p, size_t k, Worker& w, Slot& slot)
{
    PieceSink sink{p, w, slot, k + 1 == p.cut.pieceCount};
    const size_t rowStream = p.rowBytes + 1, bpp = p.bpp;
    const PieceSpan span = SpanOf(p.cut, k);
    w.dictionary.clear();
    w.filtered.clear();
    if (p.cut.rowsPerPiece == 0) {
        const size_t x0 = span.firstPixel;
        const size_t start = span.row * rowStream + (x0 == 0 ? 0 : 1 + bpp * x0);
        const size_t end = span.row * rowStream + 1 + bpp * (x0 + span.pixels);
        int e = sink.Start(end - start);
        if (e != Z_OK)
            return e;
        if (sink.WantsDictionary()) {
            FilterStreamRange(p, w, start - std::min<size_t>(start, kWindowBytes), start, w.dictionary);
            e = sink.Dictionary(w.dictionary.data(), w.dictionary.size());
            if (e != Z_OK)
                return e;
        }
        FilterStreamRange(p, w, start, end, w.filtered);
        return sink.Add(w.filtered.data(), w.filtered.size(), true);
    }

    // Whole rows: for zlib, those whose last 32 KB stand before the piece
    // are filtered again for its dictionary, each row's filter chosen as it
    // comes.
    const size_t first = span.row, last = span.row + span.rows;
    const size_t back = sink.WantsDictionary() ? (kWindowBytes + rowStream - 1) / rowStream : 0;
    const size_t from = first - std::min(first, back);
    w.up.resize(p.rowBytes + bpp);
    w.cur.resize(p.rowBytes + bpp);
    w.filtered.resize(rowStream);
    int e = sink.Start((last - first) * rowStream);
    if (e != Z_OK)
        return e;
    TintSpan(p, static_cast<int64_t>(from) - 1, 0, p.cut.width, w.up.data() + bpp);
    for (size_t y = from; y < last; ++y) {
        TintSpan(p, static_cast<int64_t>(y), 0, p.cut.width, w.cur.data() + bpp);
        uint64_t costs[kFilterCount] = {};
        AddFilterCosts(w.up.data() + bpp, w.cur.data() + bpp, p.rowBytes, bpp, costs);
        const PngFilter filter = CheapestFilter(costs);
        w.filtered[0] = filter;
        ApplyFilter(filter, w.up.data() + bpp, w.cur.data() + bpp, p.rowBytes, bpp, w.filtered.data() + 1);
        std::swap(w.up, w.cur);
        if (y < first) {
            w.dictionary.insert(w.dictionary.end(), w.filtered.begin(), w.filtered.end());
            continue;
        }
        if (y == first && !w.dictionary.empty()) {
            const size_t n = std::min<size_t>(w.dictionary.size(), kWindowBytes);
            e = sink.Dictionary(w.dictionary.data() + w.dictionary.size() - n, n);
            if (e != Z_OK)
                return e;
        }
        e = sink.Add(w.filtered.data(), rowStream, y + 1 == last);
        if (e != Z_OK)
            return e;
    }
    return Z_OK;
}

// The failure of a piece the compressor could not compress: zlib's `error`.
Failure CompressorFailure(int error)
{
    if (error == Z_MEM_ERROR)
        return NoMemoryToWrite();
    char sentence[160];
    snprintf(sentence, sizeof sentence,
             "duotint could not encode the picture as PNG: the compressor failed (zlib error %d).", error);
    return Refusal(kErrorRefusedPicture, sentence);
}

// The pieces through the ordered hand-off (pieces.h): compressed on any
// thread, each with that thread's compressors, and written as IDAT chunks
// in order.
class PngPieces : public PieceWork {
public:
    PngPieces(FileRecord& file, const Plan& plan, uint32_t threads, size_t ring)
        : file_(file), plan_(plan), workers_(threads), slots_(ring)
    {
    }

    Failure Make(size_t k, size_t slot, uint32_t worker) override
    {
        const int e = CompressPiece(plan_, k, workers_[worker], slots_[slot]);
        return e == Z_OK ? Failure() : CompressorFailure(e);
    }

    // The piece as one IDAT chunk: the stream's header before the first,
    // the stream's Adler-32 after the last. The piece goes to the file where
    // it lies; the frame's bytes and those two go on either side of it.
    Failure Write(size_t k, size_t slot) override
    {
        const Slot& piece = slots_[slot];
        adler_ = adler32_combine(adler_, piece.adler, static_cast<z_off_t>(piece.raw));
        uint8_t before[10], after[8];
        const size_t header = k == 0 ? 2 : 0, trailer = k + 1 == plan_.cut.pieceCount ? 4 : 0;
        if (header != 0)
            ZlibHeader(plan_.level, before + 8);
        if (trailer != 0)
            PutBigEndian(static_cast<uint32_t>(adler_), after);
        PngChunkFrame frame("IDAT", header + piece.size + trailer);
        memcpy(before, frame.Head(), 8);
        frame.Add(before + 8, header);
        frame.Add(piece.bytes.data(), piece.size);
        frame.Add(after, trailer);
        memcpy(after + trailer, frame.End(), 4);
        if (!WriteAll(file_, before, 8 + header) || !WriteAll(file_, piece.bytes.data(), piece.size) ||
            !WriteAll(file_, after, trailer + 4))
            return FailureOf(file_);
        return Failure();
    }

private:
    FileRecord& file_;
    const Plan& plan_;
    std::vector<Worker> workers_;
    std::vector<Slot> slots_;
    uLong adler_ = adler32(0, nullptr, 0);
};

}  // namespace

Failure WritePng(const WriteContext& out)
{
    const TintedSource& source = out.source;
    const ExportSettings& settings = out.settings;
    const size_t bpp = source.alpha != nullptr ? 4 : 3;
    const uint32_t threads = WriterThreads(settings.threads.cores);
    const size_t pieceBytes = std::min<size_t>(
        std::max<size_t>(settings.pngPieceBytes != 0 ? settings.pngPieceBytes : kPieceBytes, bpp), 1u << 30);

    const size_t rowBytes = bpp * static_cast<size_t>(source.width);
    Plan plan{source, bpp, rowBytes, settings.pngLevel,
              CutPieces(source.width, source.height, rowBytes + 1, bpp, pieceBytes), {}};
    const size_t ring = 2 * static_cast<size_t>(threads);
    Worker chooser;
    if (plan.cut.rowsPerPiece == 0)
        ChooseCutRowFilters(plan, chooser);
    const std::vector<uint8_t> head = PngHeadBytes(static_cast<uint32_t>(source.width),
                                                   static_cast<uint32_t>(source.height), source.alpha != nullptr,
                                                   PngMetadataChunks(out.kept));
    if (!WriteAll(out.file, head.data(), head.size()))
        return FailureOf(out.file);
    PngPieces pieces(out.file, plan, threads, ring);
    if (Failure failure = RunPieces(pieces, plan.cut.pieceCount, threads, ring))
        return failure;
    const std::vector<uint8_t> end = PngEndBytes();
    return WriteAll(out.file, end.data(), end.size()) ? Failure() : FailureOf(out.file);
}
