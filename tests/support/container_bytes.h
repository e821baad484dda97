// Picture containers built byte by byte, for the probe's and the metadata's
// unit tests and the end-to-end runs on hostile files: a PNG with its
// chunks, JPEG segments (read back too), a GIF's blocks, an EXIF block laid
// out from its directories, an XMP packet. Nothing here is checked (a
// chunk's CRC is zero): each file is only what its bytes say.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace support::bytes {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Text(const char* s, size_t n) { return Bytes(s, s + n); }
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline Bytes Repeated(const Bytes& part, size_t times)
{
    Bytes out;
    out.reserve(part.size() * times);
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes Cut(Bytes b, size_t n)
{
    b.resize(n);
    return b;
}

// `n` bytes of v, most significant first when `big`.
inline Bytes Int(uint64_t v, int n, bool big)
{
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        b[static_cast<size_t>(big ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    return b;
}

// A chunk declaring `declared` bytes and holding `held`, with a zero CRC.
inline Bytes Chunk(const char* type, uint32_t declared, const Bytes& held)
{
    return Int(declared, 4, true) + Text(type, 4) + held + Bytes(4);
}

inline Bytes Chunk(const char* type, const Bytes& held) { return Chunk(type, static_cast<uint32_t>(held.size()), held); }

inline Bytes Png(uint32_t width, uint32_t height, const Bytes& chunks)
{
    Bytes fields = Int(width, 4, true) + Int(height, 4, true) + Bytes{8, 2, 0, 0, 0};
    return Text("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", 13, fields) + chunks;
}

inline Bytes Segment(uint8_t marker, const Bytes& body) { return Bytes{0xFF, marker} + Int(body.size() + 2, 2, true) + body; }

// A frame header of one 8 x 8 sampled component.
inline Bytes Sof(uint8_t marker, uint8_t precision, uint16_t width = 16, uint16_t height = 8)
{
    return Segment(marker, Bytes{precision} + Int(height, 2, true) + Int(width, 2, true) + Bytes{1, 1, 0x11, 0});
}

inline const Bytes kSoi = {0xFF, 0xD8}, kSos = Segment(0xDA, {1, 1, 0, 0, 63, 0});

inline Bytes Gif(const Bytes& blocks) { return Text("GIF89a\3\0\3\0\0\0\0", 13) + blocks; }

// ---- JPEG segments read back ----------------------------------------------

// The bodies of a JPEG's segments before its scan that have `marker` and
// begin with `signature`, each without it. `scan`, when given, gets what
// follows the SOS segment: the coded data to the file's end.
inline std::vector<Bytes> Bodies(const Bytes& jpeg, uint8_t marker, const Bytes& signature = {}, Bytes* scan = nullptr)
{
    std::vector<Bytes> bodies;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
        const size_t end = std::min(jpeg.size(), at + 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]));
        const Bytes body(jpeg.begin() + at + 4, jpeg.begin() + end);
        if (jpeg[at + 1] == marker && Bytes(body.begin(), body.begin() + std::min(body.size(), signature.size())) == signature)
            bodies.emplace_back(body.begin() + signature.size(), body.end());
        if (jpeg[at + 1] == 0xDA && scan != nullptr)
            scan->assign(jpeg.begin() + end, jpeg.end());
        at = jpeg[at + 1] == 0xDA ? jpeg.size() : end;
    }
    return bodies;
}

// ---- EXIF and XMP ---------------------------------------------------------

inline const Bytes kExifSignature = Text("Exif\0\0", 6), kXmpSignature = Text("http://ns.adobe.com/xap/1.0/", 29),
                   kXmpExtensionSignature = Text("http://ns.adobe.com/xmp/extension/", 35);

// An entry of an EXIF block: its values as bytes (the count is theirs in
// the type's width), or the offsets of directories (`to`, by their place in
// the block, as values of the type), or the values of an earlier entry
// (`sameAs`, counted over all entries in order).
struct TiffEntry {
    uint16_t tag, type;
    Bytes value;
    std::vector<int> to = {};
    int sameAs = -1;
};
struct TiffDirectory {
    std::vector<TiffEntry> entries;
    int next = -1;  // the directory its link names; none
};

// An EXIF block (a TIFF header and directories), most significant byte
// first when `big`, laid out from its directories in order, each followed
// by those of its entries' values that do not fit in 4 bytes.
inline Bytes LaidOut(const std::vector<TiffDirectory>& directories, bool big = false)
{
    static const uint8_t kWidths[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    auto bytesOf = [](const TiffEntry& e) { return e.to.empty() ? e.value.size() : e.to.size() * kWidths[e.type]; };
    std::vector<uint32_t> at, valuesAt;
    uint32_t end = 8;
    for (const TiffDirectory& d : directories) {
        at.push_back(end);
        end += 2 + 12 * static_cast<uint32_t>(d.entries.size()) + 4;
        for (const TiffEntry& e : d.entries) {
            valuesAt.push_back(e.sameAs >= 0 ? valuesAt[e.sameAs] : end);
            end += bytesOf(e) > 4 && e.sameAs < 0 ? static_cast<uint32_t>(bytesOf(e)) : 0;
        }
    }
    Bytes out = Text(big ? "MM\0*" : "II*\0", 4) + Int(8, 4, big);
    size_t i = 0;
    for (const TiffDirectory& d : directories) {
        Bytes apart;
        out = out + Int(d.entries.size(), 2, big);
        for (const TiffEntry& e : d.entries) {
            Bytes values = e.value;
            for (int to : e.to)
                values = values + Int(at[to], kWidths[e.type], big);
            out = out + Int(e.tag, 2, big) + Int(e.type, 2, big) + Int(bytesOf(e) / kWidths[e.type], 4, big);
            out = out + (values.size() <= 4 ? values + Bytes(4 - values.size()) : Int(valuesAt[i], 4, big));
            apart = apart + (values.size() > 4 && e.sameAs < 0 ? values : Bytes());
            ++i;
        }
        out = out + Int(d.next >= 0 ? at[d.next] : 0, 4, big) + apart;
    }
    return out;
}

inline Bytes ExifSegment(const Bytes& tiff) { return Segment(0xE1, kExifSignature + tiff); }

// An APP1 EXIF segment whose one entry is the orientation.
inline Bytes Exif(uint16_t orientation) { return ExifSegment(LaidOut({{{{274, 3, Int(orientation, 2, true)}}}}, true)); }

// An XMP packet of one rdf:Description, with these attributes (each after
// a space) and this content.
inline std::string Xmp(const std::string& attributes, const std::string& content = "")
{
    return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
           "<rdf:Description rdf:about=''" + attributes + ">" + content + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}
// The same with a description of `text` alone.
inline std::string DescribedXmp(const std::string& text)
{
    return Xmp(" xmlns:dc='http://purl.org/dc/elements/1.1/'",
               "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>" + text + "</rdf:li></rdf:Alt></dc:description>");
}
// In the processing instructions that make it a packet.
inline std::string Wrapped(const std::string& xmp)
{
    return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>" + xmp + "<?xpacket end='w'?>";
}

inline Bytes XmpSegment(const std::string& xmp) { return Segment(0xE1, kXmpSignature + Text(xmp)); }
// A part of an Extended XMP: the GUID it goes by, the whole's length and
// the part's offset in it.
inline Bytes XmpExtension(const std::string& guid, size_t whole, size_t offset, const std::string& part)
{
    return Segment(0xE1, kXmpExtensionSignature + Text(guid) + Int(whole, 4, true) + Int(offset, 4, true) + Text(part));
}
// A PNG's iTXt chunk of XMP, uncompressed.
inline Bytes XmpChunk(const std::string& xmp) { return Chunk("iTXt", Text("XML:com.adobe.xmp\0\0\0\0\0", 22) + Text(xmp)); }

}  // namespace support::bytes
