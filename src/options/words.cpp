// Reading and writing the look's nine numbers and the export format's word.
#include "options/words.h"

#include <vector>

#if !defined(DUOTINT_VERSION) || !defined(DUOTINT_LIBRARIES)
#error "the build passes the project's version as DUOTINT_VERSION and its decoders' libraries as DUOTINT_LIBRARIES"
#endif

namespace {

enum { kTintNumbers = 9 };

// The panel's rows, top to bottom.
int32_t* PanelRow(TintParameters& look, int row)
{
    int32_t* const rows[kTintNumbers] = {&look.tintA[kRed], &look.tintA[kGreen], &look.tintA[kBlue],
                                         &look.dispA,       &look.distr,         &look.tintB[kRed],
                                         &look.tintB[kGreen], &look.tintB[kBlue], &look.dispB};
    return rows[row];
}

}  // namespace

bool ParseWholeNumber(std::string_view text, int32_t& number, std::string& why)
{
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (negative)
        digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        why = "'" + std::string(text) + "' is not a whole number";
        return false;
    }
    // Past 2^31 the value stops growing, so any count of digits is safe.
    int64_t value = 0;
    for (char c : digits)
        value = value > (int64_t{1} << 31) ? value : value * 10 + (c - '0');
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX) {
        why = "'" + std::string(text) + "' is outside the 32-bit range";
        return false;
    }
    number = static_cast<int32_t>(value);
    return true;
}

bool ParseTintText(const std::string& text, TintParameters& look, std::string& why)
{
    std::vector<std::string_view> parts;
    if (!text.empty()) {
        std::string_view rest = text;
        for (size_t comma; (comma = rest.find(',')) != std::string_view::npos; rest.remove_prefix(comma + 1))
            parts.push_back(rest.substr(0, comma));
        parts.push_back(rest);
    }
    if (parts.size() != kTintNumbers) {
        why = "it holds " + std::to_string(parts.size()) + (parts.size() == 1 ? " number" : " numbers") +
              ", not " + std::to_string(kTintNumbers);
        return false;
    }
    TintParameters read = look;
    for (int row = 0; row < kTintNumbers; ++row) {
        if (parts[row].empty()) {
            why = "number " + std::to_string(row + 1) + " is empty";
            return false;
        }
        if (!ParseWholeNumber(parts[row], *PanelRow(read, row), why))
            return false;
    }
    look = read;
    return true;
}

std::string TintText(const TintParameters& look)
{
    TintParameters copy = look;
    std::string text;
    for (int row = 0; row < kTintNumbers; ++row)
        text += (row > 0 ? "," : "") + std::to_string(*PanelRow(copy, row));
    return text;
}

bool TakeExportWord(std::string_view name, std::string_view value, ExportWords& words, const char*& takes)
{
    if (name == "--format") {
        takes = "bmp, png or jpeg";
        return ParseOutputFormat(value, words.format);
    }
    if (name == "--quality") {
        takes = "a whole number from 1 to 100";
        int32_t number = 0;
        std::string why;
        if (!ParseWholeNumber(value, number, why) || number < 1 || number > 100)
            return false;
        words.quality = number;
        return true;
    }
    if (name == "--chroma") {
        takes = "420 or 444";
        return ParseChroma(value, words.chroma);
    }
    takes = nullptr;
    return false;
}

bool ParseChroma(std::string_view word, JpegChroma& chroma)
{
    if (word != "420" && word != "444")
        return false;
    chroma = word == "420" ? JpegChroma::half : JpegChroma::full;
    return true;
}

bool ParseOutputFormat(std::string_view word, OutputFormat& format)
{
    static const struct { const char* word; OutputFormat format; } kWords[] = {
        {"bmp", OutputFormat::bmp}, {"png", OutputFormat::png}, {"jpeg", OutputFormat::jpeg},
        {"jpg", OutputFormat::jpeg}};  // as the outputs are named
    for (const auto& w : kWords) {
        if (word == w.word) {
            format = w.format;
            return true;
        }
    }
    return false;
}

std::string LookRecord(const TintParameters& look, OutputFormat format, int quality, JpegChroma chroma,
                       int pngLevel, MetadataStrip strip)
{
    if (format == OutputFormat::bmp)
        return "";
    std::string words = "--tint " + TintText(look);
    if (format == OutputFormat::jpeg) {
        quality = quality != 0 ? quality : kDefaultJpegQuality;
        words += " --format jpeg --quality " + std::to_string(quality) + " --chroma " +
                 (JpegSubsampled(quality, chroma) ? "420" : "444");
    } else {
        words += " --format png --png-level " + std::to_string(pngLevel != 0 ? pngLevel : kDefaultPngLevel);
    }
    return words + (strip == MetadataStrip::all ? " --strip" : strip == MetadataStrip::gps ? " --strip gps" : "");
}

const wchar_t* OutputSuffix(OutputFormat format)
{
    switch (format) {
    case OutputFormat::png:
        return L"-.png";
    case OutputFormat::jpeg:
        return L"-.jpg";
    default:
        return L"-.bmp";
    }
}

std::string VersionText(const char* program)
{
    return std::string(program) + " " DUOTINT_VERSION "\nreads JPEG with " DUOTINT_LIBRARIES;
}
