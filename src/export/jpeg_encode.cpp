// The JPEG writer (writer.h), our encoder's threads and file: the head
// first, then each strip's coded data once those before it are written,
// then EOI.
#include "export/writer.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "export/write.h"
#include "formats/jpeg_format.h"
#include "support/pieces.h"
#include "support/system.h"

namespace {

// Strips in flight are two for each thread: enough that no thread waits
// for the writer, few enough that their coded bytes stay in the cache.

// Strips of a ring of rows as they come besides one for each thread: the
// decoding process writes them while the threads transform theirs. At least
// one: a lone thread awaits a strip's rows before it makes the one above.
// With one, the threads wait for the decoding now and then; more than two
// gain nothing (docs/benchmark.md).
const int32_t kRingStripsAhead = 2;

// Turns every strip into its symbols on the cores, each thread counting
// into a table of its own; nothing is written. The strips' symbols are
// held until they are coded. With `rows`, the source has no pixels: the
// strips go in the file's order, the picture's last first, each read into
// a slot of the ring on the calling thread before it is transformed. A
// source whose rows come through a ring of its own is let go of above the
// first strip not yet transformed, as strips are.
class TransformWork : public PieceWork {
public:
    TransformWork(const JpegLayout& layout, const JpegSource& source, FileRecord* rows, const TintedSource& tinted,
                  std::vector<JpegStripSymbols>& strips, uint32_t threads, size_t ring)
        : layout_(layout), source_(source), rows_(rows), awaitRows_(tinted.awaitRows), ringRows_(tinted.ringRows),
          letGo_(tinted.letGo), strips_(strips), transforms_(threads), counts_(threads),
          slots_(rows != nullptr ? ring : 0), done_(tinted.ringRows != 0 ? strips.size() : 0, false)
    {
    }

    Failure Prepare(size_t j, size_t slot) override
    {
        // Rows still coming are awaited here, strip by strip, on the one
        // calling thread: the threads that make strips never wait for rows,
        // so the strip that would free a ring's slots is never stuck behind
        // a wait for rows those slots are to take.
        if (awaitRows_)
            return awaitRows_(JpegStripRows(layout_, StripOf(j)).end);
        if (rows_ == nullptr)
            return Failure();
        const JpegStripSpan span = JpegStripRows(layout_, StripOf(j));
        const size_t bytes = static_cast<size_t>(span.end - span.top) * source_.stride;
        slots_[slot].resize(bytes, 0);
        for (size_t done = 0; done < bytes;) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(bytes - done, 1u << 30));
            if (!ReadBytes(*rows_, slots_[slot].data() + done, piece))
                return FailureOf(*rows_);
            done += piece;
        }
        return Failure();
    }

    Failure Make(size_t j, size_t slot, uint32_t worker) override
    {
        // Each thread's working memory is made on its first strip, by that thread.
        if (!transforms_[worker])
            transforms_[worker].reset(new JpegStripTransform(layout_));
        const int32_t k = StripOf(j);
        JpegSource from = source_;
        if (rows_ != nullptr) {
            from.pixels = slots_[slot].data();
            from.rowsBelow = layout_.height - JpegStripRows(layout_, k).end;
        } else if (ringRows_ != 0) {
            // The strip's rows stand in the ring from slot top % ringRows on,
            // the slots bottom-up as the picture's rows are.
            const int32_t top = JpegStripRows(layout_, k).top;
            from.rowsBelow = layout_.height - ringRows_ + top % ringRows_ - top;
        }
        transforms_[worker]->Run(from, k, strips_[static_cast<size_t>(k)], counts_[worker]);
        if (ringRows_ != 0)
            LetGoInOrder(k);
        return Failure();
    }

    Failure Write(size_t, size_t) override { return Failure(); }

    // The sums are the same whichever thread counted which strip.
    JpegHuffmanTables Tables() const
    {
        JpegSymbolCounts sum;
        for (const JpegSymbolCounts& c : counts_)
            for (int t = 0; t < 4; ++t)
                for (int i = 0; i < 256; ++i)
                    sum.count[t][i] += c.count[t][i];
        return FittedJpegTables(sum);
    }

private:
    int32_t StripOf(size_t j) const
    {
        return static_cast<int32_t>(rows_ != nullptr ? static_cast<size_t>(layout_.strips) - 1 - j : j);
    }

    // Strip k is transformed: the rows above the first strip that is not
    // go back to the ring. Here, on the thread that made it, never behind
    // the calling thread, which may itself wait for rows that need the room.
    void LetGoInOrder(int32_t k)
    {
        std::lock_guard<std::mutex> held(doneLock_);
        done_[static_cast<size_t>(k)] = true;
        const int32_t before = doneTo_;
        while (doneTo_ < layout_.strips && done_[static_cast<size_t>(doneTo_)])
            ++doneTo_;
        if (doneTo_ != before)
            letGo_(JpegStripRows(layout_, doneTo_ - 1).end);
    }

    const JpegLayout& layout_;
    const JpegSource& source_;
    FileRecord* rows_;
    const std::function<Failure(int32_t)>& awaitRows_;
    const int32_t ringRows_;
    const std::function<void(int32_t)>& letGo_;
    std::vector<JpegStripSymbols>& strips_;
    std::vector<std::unique_ptr<JpegStripTransform>> transforms_;
    std::vector<JpegSymbolCounts> counts_;
    std::vector<Room> slots_;
    std::mutex doneLock_;
    std::vector<bool> done_;  // strips transformed, of a ring's source
    int32_t doneTo_ = 0;      // strips above it all are
};

// Codes each strip's symbols in the fitted tables, lets the symbols go, and
// writes the strips in order.
class StripWork : public PieceWork {
public:
    StripWork(FileRecord& file, const JpegLayout& layout, const JpegHuffmanTables& tables,
              std::vector<JpegStripSymbols>& strips, uint32_t threads, size_t ring)
        : file_(file), layout_(layout), tables_(tables), strips_(strips), coders_(threads), slots_(ring)
    {
    }

    Failure Make(size_t k, size_t slot, uint32_t worker) override
    {
        if (!coders_[worker])
            coders_[worker].reset(new JpegStripCoder(layout_, tables_));
        coders_[worker]->Code(strips_[k], static_cast<int32_t>(k), slots_[slot]);
        strips_[k] = JpegStripSymbols();
        return Failure();
    }

    Failure Write(size_t, size_t slot) override
    {
        const JpegBytes& strip = slots_[slot];
        return WriteAll(file_, strip.room.data(), strip.size) ? Failure() : FailureOf(file_);
    }

private:
    FileRecord& file_;
    const JpegLayout& layout_;
    const JpegHuffmanTables& tables_;
    std::vector<JpegStripSymbols>& strips_;
    std::vector<std::unique_ptr<JpegStripCoder>> coders_;
    std::vector<JpegBytes> slots_;
};

}  // namespace

Failure WriteJpeg(const WriteContext& out)
{
    const TintedSource& source = out.source;
    const ExportSettings& settings = out.settings;
    const int32_t width = source.width, height = source.height;
    JpegLayout layout;
    if (!PlanJpeg(width, height, settings.quality, settings.chroma, layout))
        return Refusal(kErrorRefusedPicture, "duotint cannot write a picture of " + std::to_string(width) + " x " +
                                                 std::to_string(height) + " pixels as a JPEG.");
    const uint32_t threads = WriterThreads(settings.threads.cores);
    std::unique_ptr<JpegColour> colour(new JpegColour);
    BuildJpegColour(source.tables, *colour);
    const JpegSource from{source.pixels, static_cast<size_t>(source.stride), colour.get()};

    // Every strip is counted before the tables that code them all are
    // fitted: the transform runs once, and its symbols wait for them.
    std::vector<JpegStripSymbols> strips(static_cast<size_t>(layout.strips));
    TransformWork transform(layout, from, out.rows, source, strips, threads, 2 * threads);
    if (Failure failure = RunPieces(transform, strips.size(), threads, 2 * threads))
        return failure;
    const JpegHuffmanTables huffman = transform.Tables();
    const std::vector<uint8_t> head = JpegHeadBytes(layout, huffman, JpegMetadataSegments(out.kept));
    if (!WriteAll(out.file, head.data(), head.size()))
        return FailureOf(out.file);
    StripWork work(out.file, layout, huffman, strips, threads, 2 * threads);
    if (Failure failure = RunPieces(work, static_cast<size_t>(layout.strips), threads, 2 * threads))
        return failure;
    static const uint8_t kEnd[2] = {0xFF, 0xD9};
    return WriteAll(out.file, kEnd, 2) ? Failure() : FailureOf(out.file);
}

int32_t JpegRingRows(int32_t width, int32_t height, const ExportSettings& settings)
{
    JpegLayout layout;
    if (!PlanJpeg(width, height, settings.quality, settings.chroma, layout))
        return 0;
    const int64_t strips = int64_t{WriterThreads(settings.threads.cores)} + kRingStripsAhead;
    const int64_t rows = strips * layout.mcuRowsPerStrip * layout.mcuSide;
    return rows < height ? static_cast<int32_t>(rows) : 0;
}
