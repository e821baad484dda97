// Our JPEG encoder's threads and file (see jpeg_encode.h): the head first,
// then each strip's coded data once those before it are written, then EOI.
#include "picture/jpeg_encode.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "picture/pieces.h"
#include "support/system.h"

namespace {

// Strips in flight are two for each thread: enough that no thread waits
// for the writer, few enough that their coded bytes stay in the cache.
enum : uint32_t { kMostThreads = 16 };

bool Write(FileRecord& file, const uint8_t* bytes, size_t count)
{
    for (size_t done = 0; done < count;) {
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
        if (!WriteBytes(file, bytes + done, piece))
            return false;
        done += piece;
    }
    return true;
}

// The strips whose symbols the tables are fitted to: every one of a small
// picture, one in eight of a larger one, which tells the tables nearly all
// the whole would and costs an eighth of the counting.
bool Sampled(const JpegLayout& layout, size_t k) { return layout.strips <= 16 || k % 8 == 4; }

// Counts the sampled strips' symbols on the cores, each thread into a table
// of its own; nothing is written.
class CountWork : public PieceWork {
public:
    CountWork(const JpegLayout& layout, const JpegSource& source, uint32_t threads)
        : layout_(layout), source_(source), coders_(threads), frequencies_(threads)
    {
    }

    Failure Make(size_t k, size_t, uint32_t worker) override
    {
        if (!Sampled(layout_, k))
            return Failure();
        if (!coders_[worker])
            coders_[worker].reset(new JpegStripCoder(layout_, StandardJpegTables()));
        coders_[worker]->Count(source_, static_cast<int32_t>(k), frequencies_[worker].counts);
        return Failure();
    }

    Failure Write(size_t, size_t) override { return Failure(); }

    // The sums are the same whichever thread counted which strip.
    JpegHuffmanTables Tables() const
    {
        uint32_t sum[4][256] = {};
        for (const Counts& c : frequencies_)
            for (int t = 0; t < 4; ++t)
                for (int i = 0; i < 256; ++i)
                    sum[t][i] += c.counts[t][i];
        return FittedJpegTables(sum);
    }

private:
    struct Counts {
        uint32_t counts[4][256] = {};
    };
    const JpegLayout& layout_;
    const JpegSource& source_;
    std::vector<std::unique_ptr<JpegStripCoder>> coders_;
    std::vector<Counts> frequencies_;
};

class StripWork : public PieceWork {
public:
    StripWork(FileRecord& file, const JpegLayout& layout, const JpegHuffmanTables& tables, const JpegSource& source,
              uint32_t threads, size_t ring)
        : file_(file), layout_(layout), tables_(tables), source_(source), coders_(threads), slots_(ring)
    {
    }

    Failure Make(size_t k, size_t slot, uint32_t worker) override
    {
        // Each thread's coder is made on its first strip, by that thread.
        if (!coders_[worker])
            coders_[worker].reset(new JpegStripCoder(layout_, tables_));
        coders_[worker]->Code(source_, static_cast<int32_t>(k), slots_[slot]);
        return Failure();
    }

    Failure Write(size_t, size_t slot) override
    {
        const JpegBytes& strip = slots_[slot];
        return ::Write(file_, strip.room.data(), strip.size) ? Failure() : FailureOf(file_);
    }

private:
    FileRecord& file_;
    const JpegLayout& layout_;
    const JpegHuffmanTables& tables_;
    const JpegSource& source_;
    std::vector<std::unique_ptr<JpegStripCoder>> coders_;
    std::vector<JpegBytes> slots_;
};

}  // namespace

Failure JpegSizeRefusal(int32_t width, int32_t height, const std::string& shownName)
{
    if (width <= kMostJpegSide && height <= kMostJpegSide)
        return Failure();
    return Refusal(kErrorRefusedPicture, "duotint cannot write " + shownName + " as a JPEG: it is " +
                                             std::to_string(width) + " x " + std::to_string(height) +
                                             " pixels, and the common JPEG readers open at most " +
                                             std::to_string(kMostJpegSide) + " in either direction.");
}

Failure WriteTintedJpeg(FileRecord& file, const TintedSource& source, const PictureMetadata& kept,
                        const JpegEncoding& encoding)
{
    const int32_t width = source.width, height = source.height;
    JpegLayout layout;
    if (!PlanJpeg(width, height, encoding.quality, encoding.chroma, layout))
        return Refusal(kErrorRefusedPicture, "duotint cannot write a picture of " + std::to_string(width) + " x " +
                                                 std::to_string(height) + " pixels as a JPEG.");
    const uint32_t threads = std::min<uint32_t>(CoresToUse(encoding.cores), kMostThreads);
    try {
        std::unique_ptr<JpegColour> colour(new JpegColour);
        BuildJpegColour(source.tables, *colour);
        const JpegSource from{source.pixels, static_cast<size_t>(source.stride), colour.get()};

        CountWork count(layout, from, threads);
        if (Failure failure = RunPieces(count, static_cast<size_t>(layout.strips), threads, 2 * threads))
            return failure;
        const JpegHuffmanTables huffman = count.Tables();
        std::vector<uint8_t> head = JpegHeadBytes(layout, huffman);
        SpliceJpegMetadata(head, kept);
        if (!Write(file, head.data(), head.size()))
            return FailureOf(file);
        StripWork work(file, layout, huffman, from, threads, 2 * threads);
        if (Failure failure = RunPieces(work, static_cast<size_t>(layout.strips), threads, 2 * threads))
            return failure;
    } catch (const std::bad_alloc&) {
        return NoMemoryToWrite();
    }
    static const uint8_t kEnd[2] = {0xFF, 0xD9};
    return Write(file, kEnd, 2) ? Failure() : FailureOf(file);
}
