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

// Strips of a ring of rows as they come besides one for each thread: the
// decoding process writes them while the threads transform theirs. At least
// one: a lone thread awaits a strip's rows before it makes the one above.
// With one, the threads wait for the decoding now and then; more than two
// gain nothing (docs/benchmark.md).
const int32_t kRingStripsAhead = 2;

// Each thread's transform and counts, kept from strip to strip, the
// transform made on the thread's first.
struct StripHand {
    std::unique_ptr<JpegStripTransform> transform;
    JpegSymbolCounts counts;
    JpegSymbolCounts uncounted;  // the counts of the other strips, taken as they are coded
};

// The counts of every thread's counted strips added together, or of every
// strip: the sums are the same whichever thread took which strip.
JpegSymbolCounts SumOf(const std::vector<StripHand>& hands, bool everyStrip)
{
    JpegSymbolCounts sum;
    for (const StripHand& hand : hands)
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 256; ++i)
                sum.count[t][i] += hand.counts.count[t][i] + (everyStrip ? hand.uncounted.count[t][i] : 0);
    return sum;
}

// The tables fitted to the counted strips, or to every strip where those
// misfit it.
JpegHuffmanTables TablesOf(const JpegLayout& layout, const std::vector<StripHand>& hands)
{
    const JpegHuffmanTables counted = JpegTablesFor(layout, SumOf(hands, false));
    JpegHuffmanTables fitted;
    return JpegTablesMisfit(counted, SumOf(hands, true), fitted) ? fitted : counted;
}

// Strip k into `out` on the thread `hand` is, counted where it counts.
void Transform(const JpegLayout& layout, const JpegSource& from, int32_t k, StripHand& hand, JpegStripSymbols& out)
{
    if (!hand.transform)
        hand.transform.reset(new JpegStripTransform(layout));
    hand.transform->Run(from, k, out, JpegStripCounted(layout, k) ? hand.counts : hand.uncounted);
}

// A picture whose rows are all at hand, in memory or in their file: the
// counted strips are transformed first, their symbols held for the tables;
// then each strip is coded, a counted one from its symbols, any other as
// it is transformed (RunCoded) and counted, and written in order, so
// besides the counted strips only those in flight are held. Where the
// tables then misfit every strip's counts, every strip is transformed and
// coded again in tables fitted to them (Refit). With `rows`, the source
// has no pixels: the thread that transforms a strip reads its rows into
// room of its own first, from where they stand in the file (ReadRows), so
// each thread holds one strip's rows however many strips are in flight.
class AtHandWork : public PieceWork {
public:
    AtHandWork(FileRecord& file, const JpegLayout& layout, const JpegSource& source, FileRecord* rows,
               uint64_t rowsAt, uint32_t threads, size_t ring)
        : file_(file), layout_(layout), source_(source), rows_(rows), rowsAt_(rowsAt), hands_(threads),
          coders_(threads), rowsRead_(rows != nullptr ? threads : 0), coded_(ring)
    {
        for (int32_t k = 0; k < layout.strips; ++k)
            if (JpegStripCounted(layout, k))
                counted_.push_back(k);
        held_.resize(counted_.size());
    }

    size_t CountedStrips() const { return counted_.size(); }

    // After the counting pass, the counted strips' tables; the coding pass follows.
    void StartCoding()
    {
        tables_.reset(new JpegHuffmanTables(JpegTablesFor(layout_, SumOf(hands_, false))));
        coding_ = true;
    }

    // After the coding pass: whether its tables misfit every strip's
    // counts, and if so, those fitted to them for a coding pass again.
    bool Refit()
    {
        std::unique_ptr<JpegHuffmanTables> fitted(new JpegHuffmanTables);
        if (!JpegTablesMisfit(*tables_, SumOf(hands_, true), *fitted))
            return false;
        tables_ = std::move(fitted);
        for (std::unique_ptr<JpegStripCoder>& coder : coders_)
            coder.reset();
        counted_.clear();
        held_.clear();
        return true;
    }

    const JpegHuffmanTables& Tables() const { return *tables_; }

    Failure Make(size_t j, size_t slot, uint32_t worker) override
    {
        const int32_t k = StripOf(j);
        if (coding_ && !coders_[worker])
            coders_[worker].reset(new JpegStripCoder(layout_, *tables_));
        if (JpegStripSymbols* held = coding_ ? HeldOf(j) : nullptr) {
            coders_[worker]->Code(*held, k, coded_[slot]);
            *held = JpegStripSymbols();
            return Failure();
        }
        JpegSource from = source_;
        if (rows_ != nullptr) {
            if (Failure failure = ReadRows(k, worker))
                return failure;
            from.pixels = rowsRead_[worker].data();
            from.rowsBelow = layout_.height - JpegStripRows(layout_, k).end;
        }
        StripHand& hand = hands_[worker];
        if (!coding_) {
            Transform(layout_, from, k, hand, held_[j]);
            return Failure();
        }
        if (!hand.transform)
            hand.transform.reset(new JpegStripTransform(layout_));
        hand.transform->RunCoded(from, k, *coders_[worker], coded_[slot], hand.uncounted);
        return Failure();
    }

    Failure Write(size_t, size_t slot) override
    {
        if (!coding_)
            return Failure();
        const JpegBytes& strip = coded_[slot];
        return WriteAll(file_, strip.room.data(), strip.size) ? Failure() : FailureOf(file_);
    }

private:
    int32_t StripOf(size_t j) const { return coding_ ? static_cast<int32_t>(j) : counted_[j]; }
    // Strip k's rows from where they stand in the file (bottom-up) into the
    // thread's own room: the threads take turns at the file.
    Failure ReadRows(int32_t k, uint32_t worker)
    {
        const JpegStripSpan span = JpegStripRows(layout_, k);
        const size_t bytes = static_cast<size_t>(span.end - span.top) * source_.stride;
        rowsRead_[worker].resize(bytes, 0);
        std::lock_guard<std::mutex> held(readLock_);
        return ReadAt(*rows_, rowsAt_ + static_cast<uint64_t>(layout_.height - span.end) * source_.stride,
                      rowsRead_[worker].data(), static_cast<uint32_t>(bytes))
                   ? Failure()
                   : FailureOf(*rows_);
    }
    // In the coding pass, strip j's held symbols when it was counted.
    JpegStripSymbols* HeldOf(size_t j)
    {
        const auto at = std::lower_bound(counted_.begin(), counted_.end(), static_cast<int32_t>(j));
        return at != counted_.end() && *at == static_cast<int32_t>(j) ? &held_[static_cast<size_t>(at - counted_.begin())]
                                                                      : nullptr;
    }

    FileRecord& file_;
    const JpegLayout& layout_;
    const JpegSource& source_;
    FileRecord* rows_;
    const uint64_t rowsAt_;
    std::vector<int32_t> counted_;
    std::vector<JpegStripSymbols> held_;  // each counted strip's symbols, until it is coded
    bool coding_ = false;
    std::vector<StripHand> hands_;
    std::unique_ptr<JpegHuffmanTables> tables_;
    std::vector<std::unique_ptr<JpegStripCoder>> coders_;
    std::mutex readLock_;
    std::vector<Room> rowsRead_;  // each thread's strip of rows, for a source in its file
    std::vector<JpegBytes> coded_;
};

// A picture whose rows come once, top first, while they are decoded: every
// strip is transformed as its rows come, and its symbols held until the
// last counted strip has given the tables that code them. A source whose
// rows come through a ring of its own is let go of above the first strip
// not yet transformed, as strips are.
class ComingWork : public PieceWork {
public:
    ComingWork(const JpegLayout& layout, const JpegSource& source, const TintedSource& tinted,
               std::vector<JpegStripSymbols>& strips, uint32_t threads)
        : layout_(layout), source_(source), awaitRows_(tinted.awaitRows), ringRows_(tinted.ringRows),
          letGo_(tinted.letGo), strips_(strips), hands_(threads), done_(tinted.ringRows != 0 ? strips.size() : 0, false)
    {
    }

    Failure Prepare(size_t k, size_t) override
    {
        // Rows still coming are awaited here, strip by strip, on the one
        // calling thread: the threads that make strips never wait for rows,
        // so the strip that would free a ring's slots is never stuck behind
        // a wait for rows those slots are to take.
        return awaitRows_ ? awaitRows_(JpegStripRows(layout_, static_cast<int32_t>(k)).end) : Failure();
    }

    Failure Make(size_t j, size_t, uint32_t worker) override
    {
        const int32_t k = static_cast<int32_t>(j);
        JpegSource from = source_;
        if (ringRows_ != 0) {
            // The strip's rows stand in the ring from slot top % ringRows on,
            // the slots bottom-up as the picture's rows are.
            const int32_t top = JpegStripRows(layout_, k).top;
            from.rowsBelow = layout_.height - ringRows_ + top % ringRows_ - top;
        }
        Transform(layout_, from, k, hands_[worker], strips_[j]);
        if (ringRows_ != 0)
            LetGoInOrder(k);
        return Failure();
    }

    Failure Write(size_t, size_t) override { return Failure(); }

    JpegHuffmanTables Tables() const { return TablesOf(layout_, hands_); }

private:
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
    const std::function<Failure(int32_t)>& awaitRows_;
    const int32_t ringRows_;
    const std::function<void(int32_t)>& letGo_;
    std::vector<JpegStripSymbols>& strips_;
    std::vector<StripHand> hands_;
    std::mutex doneLock_;
    std::vector<bool> done_;  // strips transformed, of a ring's source
    int32_t doneTo_ = 0;      // strips above it all are
};

// Codes each held strip's symbols in the fitted tables, lets the symbols
// go, and writes the strips in order.
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

Failure WriteHead(const WriteContext& out, const JpegLayout& layout, const JpegHuffmanTables& tables)
{
    const std::vector<uint8_t> head = JpegHeadBytes(layout, tables, JpegMetadataSegments(out.kept));
    return WriteAll(out.file, head.data(), head.size()) ? Failure() : FailureOf(out.file);
}

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
    const size_t ring = 2 * threads;
    std::unique_ptr<JpegColour> colour(new JpegColour);
    BuildJpegColour(source.tables, *colour);
    const JpegSource from{source.pixels, static_cast<size_t>(source.stride), colour.get()};
    PieceCrew crew(threads);

    if (source.awaitRows || source.ringRows != 0) {
        std::vector<JpegStripSymbols> strips(static_cast<size_t>(layout.strips));
        ComingWork transform(layout, from, source, strips, threads);
        if (Failure failure = crew.Run(transform, strips.size(), ring))
            return failure;
        const JpegHuffmanTables tables = transform.Tables();
        if (Failure failure = WriteHead(out, layout, tables))
            return failure;
        StripWork work(out.file, layout, tables, strips, threads, ring);
        if (Failure failure = crew.Run(work, strips.size(), ring))
            return failure;
    } else {
        uint64_t rowsAt = 0;
        if (out.rows != nullptr && !ReadPosition(*out.rows, rowsAt))
            return FailureOf(*out.rows);
        AtHandWork work(out.file, layout, from, out.rows, rowsAt, threads, ring);
        if (Failure failure = crew.Run(work, work.CountedStrips(), ring))
            return failure;
        work.StartCoding();
        if (Failure failure = WriteHead(out, layout, work.Tables()))
            return failure;
        if (Failure failure = crew.Run(work, static_cast<size_t>(layout.strips), ring))
            return failure;
        if (work.Refit()) {
            if (!WriteFromStart(out.file))
                return FailureOf(out.file);
            if (Failure failure = WriteHead(out, layout, work.Tables()))
                return failure;
            if (Failure failure = crew.Run(work, static_cast<size_t>(layout.strips), ring))
                return failure;
        }
    }
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
