// Deflate blocks of runs and literals (the format's dynamic and stored
// blocks), with Huffman codes limited to the format's lengths.
#include "formats/png_deflate.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A block's input at most: a stored block holds up to 65535 bytes, and a
// dynamic block's code tables, about a hundred bytes, cost well under 1%.
enum : size_t { kBlockBytes = 65535 };
enum : int { kLiteralLengthCodes = 286, kCodeLengthCodes = 19, kMostBits = 15, kMostCodeLengthBits = 7 };

// The length codes 257 to 285: their least length and extra bits.
const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// The order in which the code-length code's lengths are stored.
const uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The length code (0 for 257) of a run of `length`, 3 to 258: the last
// whose base it reaches, so 258 takes its own code.
int LengthCode(uint32_t length)
{
    int code = 28;
    while (kLengthBase[code] > length)
        --code;
    return code;
}

uint32_t Reversed(uint32_t code, uint32_t bits)
{
    uint32_t r = 0;
    for (uint32_t i = 0; i < bits; ++i, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}

// Huffman code lengths of at most `mostBits` for the `n` symbols' counts,
// 0 for a symbol never used; at least two symbols must be used. Where the
// tree is too deep, the counts are halved (keeping every used one used)
// until it is not: the rare symbols that made it deep then cost a bit more.
void BuildLengths(const uint32_t* counts, int n, int mostBits, uint8_t* lengths)
{
    uint32_t weight[2 * kLiteralLengthCodes];
    int symbol[kLiteralLengthCodes], parent[2 * kLiteralLengthCodes];
    uint32_t count[kLiteralLengthCodes];
    std::copy(counts, counts + n, count);
    for (;;) {
        int used = 0;
        for (int s = 0; s < n; ++s)
            if (count[s] != 0)
                symbol[used++] = s;
        if (used == 0) {
            std::fill(lengths, lengths + n, 0);
            return;
        }
        std::stable_sort(symbol, symbol + used, [&](int a, int b) { return count[a] < count[b]; });
        // Leaves 0 to used - 1 in rising weight; the joined nodes after them
        // come in rising weight too, so the two lightest are at two fronts.
        for (int i = 0; i < used; ++i)
            weight[i] = count[symbol[i]];
        int leaf = 0, joined = used;
        const int nodes = 2 * used - 1;
        for (int next = used; next < nodes; ++next) {
            int pair[2];
            for (int& pick : pair)
                pick = leaf < used && (joined == next || weight[leaf] <= weight[joined]) ? leaf++ : joined++;
            weight[next] = weight[pair[0]] + weight[pair[1]];
            parent[pair[0]] = parent[pair[1]] = next;
        }
        // Depths from the root, the last node; every parent comes after its children.
        uint32_t depth[2 * kLiteralLengthCodes];
        depth[nodes - 1] = used == 1 ? 1 : 0;  // a lone symbol still takes a bit
        int deepest = 0;
        for (int i = nodes - 2; i >= 0; --i) {
            depth[i] = depth[parent[i]] + 1;
            deepest = std::max(deepest, static_cast<int>(depth[i]));
        }
        if (deepest <= mostBits) {
            std::fill(lengths, lengths + n, 0);
            for (int i = 0; i < used; ++i)
                lengths[symbol[i]] = static_cast<uint8_t>(depth[i]);
            return;
        }
        for (int s = 0; s < n; ++s)
            if (count[s] != 0)
                count[s] = (count[s] + 1) / 2;
    }
}

// The canonical codes of `lengths`, bit-reversed, as the format sends them
// first bit first.
void BuildCodes(const uint8_t* lengths, int n, uint32_t* codes)
{
    uint32_t perLength[kMostBits + 1] = {}, next[kMostBits + 2] = {};
    for (int s = 0; s < n; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    for (int bits = 1; bits <= kMostBits; ++bits)
        next[bits + 1] = (next[bits] + perLength[bits]) << 1;
    for (int s = 0; s < n; ++s)
        codes[s] = lengths[s] == 0 ? 0 : Reversed(next[lengths[s]]++, lengths[s]);
}

#if defined(__SSE2__)
inline __m128i Load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
#endif

}  // namespace

uint32_t AdlerSum(uint32_t adler, const uint8_t* data, size_t count)
{
    enum : uint32_t { kModulus = 65521 };
    uint64_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    while (count != 0) {
        // A chunk's sums stay well inside their lanes: each 32-bit lane of
        // the weighted sums gains at most 8160 a round.
        size_t n = std::min<size_t>(count, 1u << 20), i = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i high = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9), low = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
        __m128i sums = zero, before = zero, weighted = zero;  // 64-bit, 64-bit, 32-bit lanes
        for (; i + 16 <= n; i += 16) {
            const __m128i x = Load(data + i);
            before = _mm_add_epi64(before, sums);
            sums = _mm_add_epi64(sums, _mm_sad_epu8(x, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(x, zero), high));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(x, zero), low));
        }
        uint64_t s[2], b[2];
        uint32_t w[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s), sums);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b), before);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w), weighted);
        // Each round adds the first sum as it stood before it sixteen times.
        s2 += s1 * i + 16 * (b[0] + b[1]) + w[0] + w[1] + w[2] + w[3];
        s1 += s[0] + s[1];
#endif
        for (; i < n; ++i) {
            s1 += data[i];
            s2 += s1;
        }
        s1 %= kModulus;
        s2 %= kModulus;
        data += n;
        count -= n;
    }
    return static_cast<uint32_t>(s2 << 16 | s1);
}

size_t RunsDeflateBound(size_t count)
{
    // Each block stored at worst (3 bits, a byte's padding, 4 bytes of
    // length), the piece's end (an empty stored or final block), and the
    // 8 bytes the coder stores at once past the last it completes.
    return count + 6 * (count / kBlockBytes + 2) + 16;
}

void RunsDeflater::Begin(uint8_t* out)
{
    held_.resize(kBlockBytes + 1);
    runs_.resize(kBlockBytes / 3 + 1);
    heldCount_ = 0;
    hasBefore_ = false;
    start_ = out_ = out;
    bits_ = 0;
    bitCount_ = 0;
}

void RunsDeflater::Add(const uint8_t* data, size_t count)
{
    while (count != 0) {
        const size_t take = std::min(count, kBlockBytes - heldCount_);
        memcpy(held_.data() + 1 + heldCount_, data, take);
        heldCount_ += take;
        data += take;
        count -= take;
        if (heldCount_ == kBlockBytes) {
            Block(false);
            held_[0] = held_[kBlockBytes];
            hasBefore_ = true;
            heldCount_ = 0;
        }
    }
}

size_t RunsDeflater::End(bool last)
{
    if (heldCount_ != 0) {
        Block(last);
        heldCount_ = 0;
    } else if (last) {
        Put(1, 1);  // final
        Put(1, 2);  // fixed codes
        Put(0, 7);  // the block's end, code 256
    }
    if (!last) {
        Put(0, 3);  // not final, stored
        AlignToByte();
        static const uint8_t kEmpty[4] = {0, 0, 0xFF, 0xFF};  // length 0 and its complement
        memcpy(out_, kEmpty, 4);
        out_ += 4;
    }
    AlignToByte();
    return static_cast<size_t>(out_ - start_);
}

void RunsDeflater::Put(uint32_t bits, uint32_t count)
{
    bits_ |= static_cast<uint64_t>(bits) << bitCount_;
    bitCount_ += count;
    if (bitCount_ >= 32) {
        for (int i = 0; i < 4; ++i)
            *out_++ = static_cast<uint8_t>(bits_ >> (8 * i));
        bits_ >>= 32;
        bitCount_ -= 32;
    }
}

void RunsDeflater::AlignToByte()
{
    bitCount_ = (bitCount_ + 7) & ~7u;
    for (; bitCount_ != 0; bitCount_ -= 8, bits_ >>= 8)
        *out_++ = static_cast<uint8_t>(bits_);
}

void RunsDeflater::Block(bool last)
{
    const uint8_t* d = held_.data() + 1;
    const size_t n = heldCount_;

    // How often each byte occurs, in four tables so that repeats of a byte
    // do not wait on one another's counts.
    uint32_t counts[kLiteralLengthCodes] = {};
    {
        uint32_t part[4][256] = {};
        size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            ++part[0][d[i]];
            ++part[1][d[i + 1]];
            ++part[2][d[i + 2]];
            ++part[3][d[i + 3]];
        }
        for (; i < n; ++i)
            ++part[0][d[i]];
        for (int x = 0; x < 256; ++x)
            counts[x] = part[0][x] + part[1][x] + part[2][x] + part[3][x];
    }
    // The runs: where a byte equals the one before it and the two after it,
    // the first such place found sixteen at a time. Its bytes are then no
    // literals.
    uint32_t lengthCounts[259] = {};
    size_t runCount = 0;
    for (size_t i = hasBefore_ ? 0 : 1; i + 2 < n;) {
#if defined(__SSE2__)
        if (i + 18 <= n) {
            const __m128i before = Load(d + i - 1);
            const __m128i three = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(Load(d + i), before),
                                                              _mm_cmpeq_epi8(Load(d + i + 1), before)),
                                                _mm_cmpeq_epi8(Load(d + i + 2), before));
            const int starts = _mm_movemask_epi8(three);
            if (starts == 0) {
                i += 16;
                continue;
            }
            i += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(starts)));
        } else if (!(d[i] == d[i - 1] && d[i + 1] == d[i - 1] && d[i + 2] == d[i - 1])) {
            ++i;
            continue;
        }
#else
        if (!(d[i] == d[i - 1] && d[i + 1] == d[i - 1] && d[i + 2] == d[i - 1])) {
            ++i;
            continue;
        }
#endif
        const uint8_t x = d[i];
        const size_t most = std::min<size_t>(258, n - i);
        size_t length = 3;
        while (length < most && d[i + length] == x)
            ++length;
        runs_[runCount++] = static_cast<uint32_t>(i << 9 | length);
        ++lengthCounts[length];
        counts[x] -= static_cast<uint32_t>(length);
        i += length;
    }

    counts[256] = 1;  // the block's end
    for (uint32_t length = 3; length <= 258; ++length)
        counts[257 + LengthCode(length)] += lengthCounts[length];
    uint8_t lengths[kLiteralLengthCodes];
    BuildLengths(counts, kLiteralLengthCodes, kMostBits, lengths);
    uint32_t codes[kLiteralLengthCodes];
    BuildCodes(lengths, kLiteralLengthCodes, codes);
    int literalCodes = kLiteralLengthCodes;
    while (lengths[literalCodes - 1] == 0)
        --literalCodes;
    // Distance codes 0 and 1 of one bit each: a complete code, as some
    // readers want, though runs use only code 0, distance 1.
    const int distanceCodes = 2;
    uint8_t all[kLiteralLengthCodes + distanceCodes];
    std::copy(lengths, lengths + literalCodes, all);
    all[literalCodes] = all[literalCodes + 1] = 1;
    const int allCount = literalCodes + distanceCodes;

    // Each literal's code and each run's: its length code, extra bits and
    // the distance code's one bit 0; a code's bits at the bottom, their
    // count at the top.
    uint32_t literalCoded[256], runCoded[259] = {};
    uint64_t bodyBits = lengths[256];
    for (int x = 0; x < 256; ++x) {
        literalCoded[x] = codes[x] | static_cast<uint32_t>(lengths[x]) << 24;
        bodyBits += static_cast<uint64_t>(counts[x]) * lengths[x];
    }
    for (uint32_t length = 3; length <= 258; ++length) {
        const int code = LengthCode(length);
        const uint32_t symbolBits = lengths[257 + code], count = symbolBits + kLengthExtra[code] + 1;
        runCoded[length] = (codes[257 + code] | (length - kLengthBase[code]) << symbolBits) | count << 24;
        bodyBits += static_cast<uint64_t>(lengthCounts[length]) * count;
    }

    // The code lengths, literal/length then distance, with their repeats
    // coded: 16 repeats the last length 3 to 6 times, 17 and 18 give 3 to
    // 10 and 11 to 138 zeros.
    struct Repeat {
        uint8_t symbol, extra, extraBits;
    } sequence[kLiteralLengthCodes + distanceCodes];
    int sequenceCount = 0;
    uint32_t codeLengthCounts[kCodeLengthCodes] = {};
    for (int i = 0; i < allCount;) {
        const uint8_t v = all[i];
        int run = 1;
        while (i + run < allCount && all[i + run] == v)
            ++run;
        i += run;
        if (v == 0) {
            for (; run >= 11; run -= std::min(run, 138))
                sequence[sequenceCount++] = {18, static_cast<uint8_t>(std::min(run, 138) - 11), 7};
            if (run >= 3) {
                sequence[sequenceCount++] = {17, static_cast<uint8_t>(run - 3), 3};
                run = 0;
            }
        } else {
            sequence[sequenceCount++] = {v, 0, 0};
            for (--run; run >= 3; run -= std::min(run, 6))
                sequence[sequenceCount++] = {16, static_cast<uint8_t>(std::min(run, 6) - 3), 2};
        }
        for (; run > 0; --run)
            sequence[sequenceCount++] = {v, 0, 0};
    }
    for (int i = 0; i < sequenceCount; ++i)
        ++codeLengthCounts[sequence[i].symbol];
    // Two codes at least, as for any Huffman code here.
    if (std::count_if(codeLengthCounts, codeLengthCounts + kCodeLengthCodes, [](uint32_t c) { return c != 0; }) < 2)
        ++codeLengthCounts[codeLengthCounts[0] == 0 ? 0 : 1];
    uint8_t codeLengthLengths[kCodeLengthCodes];
    uint32_t codeLengthCodes[kCodeLengthCodes];
    BuildLengths(codeLengthCounts, kCodeLengthCodes, kMostCodeLengthBits, codeLengthLengths);
    BuildCodes(codeLengthLengths, kCodeLengthCodes, codeLengthCodes);
    int storedLengths = kCodeLengthCodes;
    while (storedLengths > 4 && codeLengthLengths[kCodeLengthOrder[storedLengths - 1]] == 0)
        --storedLengths;
    uint64_t headBits = 3 + 5 + 5 + 4 + 3 * storedLengths;
    for (int i = 0; i < sequenceCount; ++i)
        headBits += codeLengthLengths[sequence[i].symbol] + sequence[i].extraBits;

    // Stored instead where that is no larger: noise, or a block of a few bytes.
    const uint64_t storedBits = 3 + (8 - (bitCount_ + 3) % 8) % 8 + 32 + 8 * static_cast<uint64_t>(n);
    if (storedBits <= headBits + bodyBits) {
        Put(last ? 1 : 0, 3);  // final or not, stored
        AlignToByte();
        const uint8_t lengthBytes[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                        static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)};
        memcpy(out_, lengthBytes, 4);
        memcpy(out_ + 4, d, n);
        out_ += 4 + n;
        return;
    }

    Put(last ? 1 : 0, 1);
    Put(2, 2);  // dynamic codes
    Put(static_cast<uint32_t>(literalCodes - 257), 5);
    Put(distanceCodes - 1, 5);
    Put(static_cast<uint32_t>(storedLengths - 4), 4);
    for (int i = 0; i < storedLengths; ++i)
        Put(codeLengthLengths[kCodeLengthOrder[i]], 3);
    for (int i = 0; i < sequenceCount; ++i) {
        Put(codeLengthCodes[sequence[i].symbol], codeLengthLengths[sequence[i].symbol]);
        Put(sequence[i].extra, sequence[i].extraBits);
    }
    // The body, with the bit buffer in registers: three literals at a time
    // (45 bits at most) after at most 7 left over, then eight bytes stored
    // whole and the pointer moved on by those complete. RunsDeflateBound
    // leaves room for the bytes stored beyond.
    uint64_t bits = bits_;
    uint32_t bitCount = bitCount_;
    uint8_t* out = out_;
    auto flush = [&] {
        memcpy(out, &bits, 8);  // little-endian: the first bits in the first byte
        out += bitCount >> 3;
        bits >>= bitCount & ~7u;
        bitCount &= 7;
    };
    auto put = [&](uint32_t coded) {
        bits |= static_cast<uint64_t>(coded & 0xFFFFFF) << bitCount;
        bitCount += coded >> 24;
    };
    flush();  // the head may leave up to 31 bits
    auto literals = [&](size_t from, size_t to) {
        size_t i = from;
        for (; i + 3 <= to; i += 3) {
            put(literalCoded[d[i]]);
            put(literalCoded[d[i + 1]]);
            put(literalCoded[d[i + 2]]);
            flush();
        }
        for (; i < to; ++i) {
            put(literalCoded[d[i]]);
            flush();
        }
    };
    size_t at = 0;
    for (size_t r = 0; r < runCount; ++r) {
        const size_t start = runs_[r] >> 9, length = runs_[r] & 511;
        literals(at, start);
        put(runCoded[length]);
        flush();
        at = start + length;
    }
    literals(at, n);
    bits_ = bits;
    bitCount_ = bitCount;
    out_ = out;
    Put(codes[256], lengths[256]);
}
