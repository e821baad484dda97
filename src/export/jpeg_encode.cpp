// Our JPEG encoder's threads and file (see jpeg_encode.h): the head first,
// then each strip's coded data once those before it are written, then EOI.
#include "export/jpeg_encode.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "support/pieces.h"
#include "support/system.h"

namespace {

// Strips in flight are two for each thread: enough that no thread waits
// for the writer, few enough that their coded bytes stay in the cache.

// Turns every strip into its symbols on the cores, each thread counting
// into a table of its own; nothing is written. The strips' symbols are
// held until they are coded. With `rows`, the source has no pixels: the
// strips go in the file's order, the picture's last first, each read into
// a slot of the ring on the calling thread before it is transformed.
class TransformWork : public PieceWork {
public:
    TransformWork(const JpegLayout& layout, const JpegSource& source, FileRecord* rows,
                  const std::function<Failure(int32_t)>& awaitRows, std::vector<JpegStripSymbols>& strips,
                  uint32_t threads, size_t ring)
        : layout_(layout), source_(source), rows_(rows), awaitRows_(awaitRows), strips_(strips),
          transforms_(threads), counts_(threads), slots_(rows != nullptr ? ring : 0)
    {
    }

    Failure Prepare(size_t j, size_t slot) override
    {
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
        if (awaitRows_)
            if (Failure failure = awaitRows_(JpegStripRows(layout_, k).end))
                return failure;
        JpegSource from = source_;
        if (rows_ != nullptr) {
            from.pixels = slots_[slot].data();
            from.rowsBelow = layout_.height - JpegStripRows(layout_, k).end;
        }
        transforms_[worker]->Run(from, k, strips_[static_cast<size_t>(k)], counts_[worker]);
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

    const JpegLayout& layout_;
    const JpegSource& source_;
    FileRecord* rows_;
    const std::function<Failure(int32_t)>& awaitRows_;
    std::vector<JpegStripSymbols>& strips_;
    std::vector<std::unique_ptr<JpegStripTransform>> transforms_;
    std::vector<JpegSymbolCounts> counts_;
    std::vector<Room> slots_;
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

Failure JpegSizeRefusal(int32_t width, int32_t height, const std::string& shownName)
{
    if (width <= kMostReadJpegSide && height <= kMostReadJpegSide)
        return Failure();
    return Refusal(kErrorRefusedPicture, "duotint cannot write " + shownName + " as a JPEG: it is " +
                                             std::to_string(width) + " x " + std::to_string(height) +
                                             " pixels, and the common JPEG readers open at most " +
                                             std::to_string(kMostReadJpegSide) + " in either direction.");
}

namespace {

Failure WriteJpeg(FileRecord& file, FileRecord* rows, const TintedSource& source, const PictureMetadata& kept,
                  const JpegEncoding& encoding)
{
    const int32_t width = source.width, height = source.height;
    JpegLayout layout;
    if (!PlanJpeg(width, height, encoding.quality, encoding.chroma, layout))
        return Refusal(kErrorRefusedPicture, "duotint cannot write a picture of " + std::to_string(width) + " x " +
                                                 std::to_string(height) + " pixels as a JPEG.");
    const uint32_t threads = WriterThreads(encoding.cores);
    try {
        std::unique_ptr<JpegColour> colour(new JpegColour);
        BuildJpegColour(source.tables, *colour);
        const JpegSource from{source.pixels, static_cast<size_t>(source.stride), colour.get()};

        // Every strip is counted before the tables that code them all are
        // fitted: the transform runs once, and its symbols wait for them.
        std::vector<JpegStripSymbols> strips(static_cast<size_t>(layout.strips));
        TransformWork transform(layout, from, rows, source.awaitRows, strips, threads, 2 * threads);
        if (Failure failure = RunPieces(transform, strips.size(), threads, 2 * threads))
            return failure;
        const JpegHuffmanTables huffman = transform.Tables();
        std::vector<uint8_t> head = JpegHeadBytes(layout, huffman);
        SpliceJpegMetadata(head, kept);
        if (!WriteAll(file, head.data(), head.size()))
            return FailureOf(file);
        StripWork work(file, layout, huffman, strips, threads, 2 * threads);
        if (Failure failure = RunPieces(work, static_cast<size_t>(layout.strips), threads, 2 * threads))
            return failure;
    } catch (const std::bad_alloc&) {
        return NoMemoryToWrite();
    }
    static const uint8_t kEnd[2] = {0xFF, 0xD9};
    return WriteAll(file, kEnd, 2) ? Failure() : FailureOf(file);
}

}  // namespace

Failure WriteTintedJpeg(FileRecord& file, const TintedSource& source, const PictureMetadata& kept,
                        const JpegEncoding& encoding)
{
    return WriteJpeg(file, nullptr, source, kept, encoding);
}

Failure WriteTintedJpegFrom(FileRecord& file, FileRecord& rows, const TintedSource& source,
                            const PictureMetadata& kept, const JpegEncoding& encoding)
{
    return WriteJpeg(file, &rows, source, kept, encoding);
}
