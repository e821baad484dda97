// The words both programs take on their command lines: the look as nine
// numbers, and the format an export is written in. Nothing here touches the
// platform, so the editor, duotint-cli and the tests share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "export/output_format.h"
#include "formats/jpeg_format.h"
#include "formats/tint.h"

// The nine numbers in the panel's order, comma-separated, nothing else:
// red, green, blue (tint A), disp (how much of tint A), distr (tint B
// against tint A), red, green, blue (tint B), disp (how much of tint B).
// Each is a whole number in the 32-bit signed range with an optional
// leading '-', taken as the editor stores it (the editor never clamps).
// False leaves look as it was and says why in a clause: "it holds 8
// numbers, not 9", "'12x' is not a whole number".
bool ParseTintText(const std::string& text, TintParameters& look, std::string& why);

// The inverse: "128,128,128,0,0,128,128,128,0" for the editor's defaults.
std::string TintText(const TintParameters& look);

// One whole number in the 32-bit signed range, written as above.
bool ParseWholeNumber(std::string_view text, int32_t& number, std::string& why);

// "bmp", "png", "jpeg" or "jpg", in lower case as typed; false for anything else.
bool ParseOutputFormat(std::string_view word, OutputFormat& format);

// "420" or "444": a JPEG's chroma sampling, as --chroma names it; false for
// anything else.
bool ParseChroma(std::string_view word, JpegChroma& chroma);

// How much of a picture's metadata an export leaves out: none, where it was
// taken (--strip gps), or all of it (--strip).
enum class MetadataStrip : uint8_t { none, gps, all };

// What an output records of how it was made (PictureMetadata::look), in
// duotint-cli's words: the look and every option that shapes the file's
// bytes, each spelt out, so that two runs that would write the same bytes
// record the same words and a rerun tells a changed look by comparing them:
// "--tint 250,120,30,45,35,20,90,240,60 --format jpeg --quality 92 --chroma
// 444 --strip gps". A quality or PNG level of 0 is the default, automatic
// chroma is what the quality picks. Empty for a BMP, which can hold none.
std::string LookRecord(const TintParameters& look, OutputFormat format, int quality, JpegChroma chroma,
                       int pngLevel, MetadataStrip strip);

// What follows the stem of an export's name: "-.bmp", "-.png" or "-.jpg".
const wchar_t* OutputSuffix(OutputFormat format);

// What --version prints for `program`: its name and version, then the
// libraries it reads pictures with.
std::string VersionText(const char* program);

// Exit codes of a command line that cannot be taken, in both programs.
enum : unsigned {
    kExitCannotRead = 5,            // a folder, a device, or a file that may not or cannot be read
    kExitExportNameTooLong = 206,   // the platform's own number for a name too long
    kExitExportIsPicture = 183,     // the platform's "already exists": the export would be the picture
    kExitUsage = 64,                // --tint or --format cannot be read; BSD's number for a usage error
};
