// Our own baseline JPEG encoder's parts: the file's head, and the coded
// data of one strip of whole MCU rows. Plain C++ over the source's bytes,
// with no platform calls, so that it runs and is fuzzed natively; the
// threads that run strips side by side and the file they go to are the
// JPEG writer's (export/writer.h).
//
// The file is JFIF baseline: 8-bit YCbCr in full range, the example tables
// of the standard's annex K scaled by the quality as the whole ecosystem
// scales them (so every tool reads the quality back as asked), Huffman
// tables fitted to the whole picture's symbols, and a restart marker
// between strips. Each strip starts the coding afresh, so strips are
// transformed and coded independently, and their size depends only on the
// picture: the same picture, look and options give the same bytes on any
// number of cores. A strip goes through two steps: the transform turns its
// pixels into symbols and counts them; once every strip is counted, the
// tables are fitted and the coder writes each strip's symbols in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/room.h"
#include "formats/tint.h"

// How the colour is sampled: automatic is 4:2:0 below quality 90 and 4:4:4
// from 90 up, where fine colour edges (which a tint makes stronger) show.
enum class JpegChroma : uint8_t { automatic, half, full };
// Whether colour is sampled 4:2:0 at this quality (1 to 100).
inline bool JpegSubsampled(int quality, JpegChroma chroma)
{
    return chroma == JpegChroma::half || (chroma == JpegChroma::automatic && quality < 90);
}

// A JPEG's sides are 16-bit fields. The common readers open none over
// 65500 pixels a side, so the export refuses a larger picture (a file
// nobody could open), though the format holds it.
enum : int32_t { kMostJpegSide = 65535, kMostReadJpegSide = 65500 };

// The picture's cut into MCUs and strips.
struct JpegLayout {
    int32_t width = 0;
    int32_t height = 0;
    int quality = 0;  // 1 to 100
    bool subsampled = false;  // 4:2:0
    int32_t mcuSide = 8;      // 16 with 4:2:0
    int32_t mcusPerRow = 0;
    int32_t mcuRows = 0;
    int32_t mcuRowsPerStrip = 0;
    int32_t strips = 0;
    uint16_t restartInterval = 0;  // MCUs in a strip: one restart interval each
};

// False for a size no JPEG can hold (a side of 0 or over 65535) or a
// quality outside 1 to 100.
bool PlanJpeg(int32_t width, int32_t height, int quality, JpegChroma chroma, JpegLayout& layout);

// A Huffman table as DHT holds it: the count of codes of each length from 1
// to 16, then the symbols in order of their codes.
struct JpegHuffmanTable {
    uint8_t counts[16] = {};
    uint8_t symbols[256] = {};
    int symbolCount = 0;
};
// The four tables of a file: 0 luminance DC, 1 luminance AC, 2 chrominance
// DC, 3 chrominance AC.
struct JpegHuffmanTables {
    JpegHuffmanTable table[4];
};
// How often each symbol of each table occurs in a picture (as
// JpegStripTransform::Run counts them). 64-bit: a picture of 65535 x 65535
// may use one symbol more than 2^32 times.
struct JpegSymbolCounts {
    uint64_t count[4][256] = {};
};
// The standard's tables (annex K.3).
JpegHuffmanTables StandardJpegTables();
// The strips a picture's Huffman tables are first fitted to: every one of a
// picture of at most kJpegCountedStrips, else that many spread evenly over
// it. A photograph's strips use their symbols much alike, so a larger
// picture's file comes out as small as with every strip counted, while its
// strips are transformed once more to be counted only where counted.
enum : int32_t { kJpegCountedStrips = 8 };
bool JpegStripCounted(const JpegLayout& layout, int32_t k);
// The tables of a picture from the counts of its counted strips: fitted to
// them, and where some strips were not counted, a code (a long one) also
// for every symbol a baseline scan may hold that they did not.
JpegHuffmanTables JpegTablesFor(const JpegLayout& layout, const JpegSymbolCounts& counted);
// Whether a picture coded in `tables` would come out more than one part in
// kJpegMisfitParts larger than in tables fitted to `every` strip's counts
// (FittedJpegTables), or holds a symbol `tables` give no code. Every strip
// is counted as it is coded, so counted strips that miss what the others
// hold (a picture whose detail comes and goes with their spacing, or a
// narrow one whose long codes outweigh its scan) are found, and the
// picture is coded again in the fitted tables, which `fitted` receives.
enum : uint64_t { kJpegMisfitParts = 200 };
bool JpegTablesMisfit(const JpegHuffmanTables& tables, const JpegSymbolCounts& every, JpegHuffmanTables& fitted);
// Tables fitted to how often each symbol occurs, codes at most 16 bits
// long and none of them all one bits; only the symbols counted get a code,
// so the counts must be the whole picture's.
JpegHuffmanTables FittedJpegTables(const JpegSymbolCounts& counts);

// SOI, APP0 (JFIF), `segments` as they stand (framed metadata segments,
// JpegMetadataSegments), DQT, SOF0, DHT, DRI and SOS: everything before the
// first strip's coded data.
std::vector<uint8_t> JpegHeadBytes(const JpegLayout& layout, const JpegHuffmanTables& tables,
                                   const std::vector<uint8_t>& segments);

// The scaled quantization table, in natural order: 0 luminance, 1 chrominance.
void JpegQuantTable(int quality, int table, uint16_t out[64]);

// JFIF's full-range YCbCr in 16-bit fixed point, each row's weights of
// blue, green and red: Y's sum to 65536 and Cb's and Cr's to 0, so that
// grey stays grey exactly.
constexpr int32_t kJpegYcc[3][3] = {{7471, 38470, 19595}, {32768, -21709, -11059}, {-5329, -27439, 32768}};

// The tint as the colour conversion reads it: each source byte's tinted
// value, for each channel. Built once an export.
struct JpegColour {
    uint8_t tinted[3][256];  // indexed like a pixel's bytes: 0 blue, 1 green, 2 red
};
void BuildJpegColour(const TintTables& tables, JpegColour& colour);

// One row of `width` BGR pixels tinted into 16-bit blue, green and red
// samples (out[0], out[1], out[2]) with 512-bit vectors, where the
// processor has AVX-512 with byte permutes (JpegHasAvx512Vbmi): the same
// samples as looked up a pixel at a time.
bool JpegHasAvx512Vbmi();
void JpegTintRowAvx512(const uint8_t* bgr, int32_t width, const JpegColour& colour, int16_t* const out[3]);

// Where a strip's pixels come from: rows of `layout.width` BGR pixels,
// bottom-up, `stride` bytes apart. The first row in memory is the
// picture's last but `rowsBelow`: 0 for the whole picture, more for a part
// of it that holds the strip.
struct JpegSource {
    const uint8_t* pixels = nullptr;
    size_t stride = 0;
    const JpegColour* colour = nullptr;
    int32_t rowsBelow = 0;
};

// The pixel rows of strip k: from `top` to before `end`.
struct JpegStripSpan {
    int32_t top, end;
};
JpegStripSpan JpegStripRows(const JpegLayout& layout, int32_t k);

// Coded bytes as they are made: `size` of `room` hold them.
struct JpegBytes {
    Room room;
    size_t size = 0;
};

// A strip as the transform leaves it, before the tables that code it are
// chosen: its symbols a byte each in the order they are coded (each block's
// DC size, then its AC run and size pairs up to the end of the block), and
// the extra bits of their values one after another, in 64-bit words, first
// bit highest. It takes about 1.4 times the coded strip.
struct JpegStripSymbols {
    Room symbols;
    size_t symbolCount = 0;
    Room extra;
    size_t extraWords = 0;
};

class JpegStripCoder;

// A thread's working memory for the transform, kept from strip to strip.
class JpegStripTransform {
public:
    // Where the processor has AVX2, two blocks are transformed at once, and
    // where it has AVX-512 with byte permutes, 64 pixels are tinted at once;
    // `wide` false keeps to SSE2, which gives the same bytes.
    explicit JpegStripTransform(const JpegLayout& layout);
    JpegStripTransform(const JpegLayout& layout, bool wide);
    // Strip k's symbols, in place of what `out` held, each one also added to
    // `counts`.
    void Run(const JpegSource& source, int32_t k, JpegStripSymbols& out, JpegSymbolCounts& counts);
    // Strip k coded at once in `coder`'s tables, in place of what `out`
    // held: the bytes `coder` makes of Run's symbols for it, each symbol
    // also added to `counts`.
    void RunCoded(const JpegSource& source, int32_t k, const JpegStripCoder& coder, JpegBytes& out,
                  JpegSymbolCounts& counts);

private:
    void ConvertRows(const JpegSource& source, int32_t top);
    // Each block's symbols, or with kCoded its codes.
    template <bool kCoded>
    void McuRow(int32_t top);
    // Null samples: a flat block of the last one's DC.
    template <bool kCoded>
    void Block(const int16_t* samples, size_t stride, int component);
    // Six blocks in coding order, transformed two at a time: the two of each
    // of `pair`, of one component's table and one stride.
    template <bool kCoded>
    void SixBlocks(const int16_t* const samples[6], const size_t stride[6], const int component[6],
                   const int pair[3][2]);
    // A block's symbols, or with kCoded its codes, from its quantized
    // coefficients in the DCT's transposed order and which of them are not
    // 0, in zigzag order.
    template <bool kCoded>
    void Walk(const int16_t* quantized, uint64_t nonzero, int component);

    JpegLayout layout_;
    bool twoAtOnce_;
    bool wideTint_;
    int32_t paddedWidth_;
    int32_t chromaWidth_;
    // Level-shifted samples of one MCU row: Y at full size, Cb and Cr at
    // the MCU's sampling.
    std::vector<int16_t> y_, cb_, cr_;
    std::vector<int32_t> cbFull_, crFull_;  // 4:2:0: before averaging, scaled by 2^16
    std::vector<int16_t> row_[3];  // one row's tinted blue, green and red, then its last pixel repeated
    // Divisors of the DCT's output (8 times the table's entries), in its
    // transposed order: q = (|x| + d / 2) / d, an integer division carried out as a
    // product with the divisor's inverse rounded up, which gives the exact
    // quotient for every dividend the DCT can give (below 2^16).
    alignas(16) int32_t half_[2][64];
    alignas(16) float inverse_[2][64];
    // Where the symbols and extra bits go, set for each MCU row.
    uint8_t* symbolAt_ = nullptr;
    uint8_t* extraAt_ = nullptr;
    uint64_t extraBits_ = 0;
    int extraRoom_ = 64;  // bits still free in extraBits_
    JpegSymbolCounts* counts_ = nullptr;
    // Where the codes go, and the bits not yet out, while a strip is coded at once.
    const JpegStripCoder* coder_ = nullptr;
    uint8_t* codedAt_ = nullptr;
    uint64_t codedBits_ = 0;
    int codedRoom_ = 64;
    int lastDc_[3] = {};
};

// A thread's coder: a strip's symbols in the file's codes.
class JpegStripCoder {
public:
    JpegStripCoder(const JpegLayout& layout, const JpegHuffmanTables& tables);
    // Strip k's coded data, in place of what `out` held: its MCUs, padded
    // to a byte with one bits, then the restart marker RSTn (n = k mod 8)
    // unless k is the last strip. The stuffed bytes (0xFF 0x00) are in.
    void Code(const JpegStripSymbols& symbols, int32_t k, JpegBytes& out);

private:
    friend class JpegStripTransform;
    JpegLayout layout_;
    // Each table's code for each symbol, right-aligned, and its length.
    uint16_t code_[4][256];
    uint8_t length_[4][256];
};
