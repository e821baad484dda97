// duotint-cli's plan: which pictures the command line names, where each
// one's output goes, and which are refused before any work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/tint.h"
#include "options/words.h"  // OutputFormat, shared with the editor

struct CliOptions {
    TintParameters look;
    std::wstring outFolder;   // empty: beside each picture
    OutputFormat format = OutputFormat::bmp;
    int quality = kDefaultJpegQuality;  // JPEG only, 1 to 100
    JpegChroma chroma = JpegChroma::automatic;  // JPEG only
    int pngLevel = kDefaultPngLevel;    // PNG only, zlib's level, 1 to 9
    int jobs = 0;             // 0: one worker per core
    bool force = false;
    bool update = false;      // without force: an output older than its picture is replaced
    bool quiet = false;
    bool verbose = false;     // each picture left alone gets its line, not only the summary
    bool recursive = false;   // every picture under a folder named, not only those directly inside
    bool strip = false;       // PNG and JPEG outputs carry no EXIF, profile, XMP or text
    bool stripGps = false;    // PNG and JPEG outputs carry no GPS, and the rest
    std::vector<std::wstring> paths;

    MetadataStrip Strip() const
    {
        return strip ? MetadataStrip::all : stripGps ? MetadataStrip::gps : MetadataStrip::none;
    }
};

// One picture of the run: its file and its output, both full paths, and the
// names the lines print (UTF-8, as given on the command line or found).
struct PlannedPicture {
    std::wstring input;
    std::wstring output;
    std::string inputName;
    std::string outputName;
    std::wstring inputIdentity;  // the input's FileIdentity, where its check could read it
    // Non-zero: refused before any work (another picture writes the same
    // output, the output is an input...), with this exit code and sentence.
    uint16_t refusedCode = 0;
    std::string refusal;
    // Not empty: left alone, which is no failure, with one line for
    // standard output ("skipped: a-.jpg exists", "skipped: b.webp: no
    // decoder on this machine for .webp").
    std::string skipped;
    // Left alone because its output exists: counted in the run's summary,
    // and its skipped line printed only with --verbose.
    bool kept = false;
    // Not empty: its output exists and --update writes it again, with this
    // line for --verbose ("redo: a-.jpg is older than its picture").
    std::string redo;
    // An earlier output beside its picture, not a picture of the run: its
    // "left out: " line is printed as a skip is, and counted in the summary.
    bool leftOut = false;
    // Not empty: no picture but a line on a folder for standard error
    // ("photos: 2 subfolders not entered; -r enters them").
    std::string note;

    bool ToTint() const { return refusedCode == 0 && skipped.empty() && note.empty(); }
};

// What the run's outputs record of how they were made (LookRecord): empty
// for BMP outputs, which hold none.
std::string OutputLookRecord(const CliOptions& options);

// Finds the pictures of every PATH in order and each one's output, beside
// it or in options.outFolder. A folder gives the files directly inside it
// whose extensions the platform's decoders list, sorted by name, then with
// options.recursive its subfolders' the same way, each folder entered once
// however many links lead to it, and never the output folder; under
// options.outFolder the outputs keep the folders they were found in. No
// folder is made here: the run makes each as its first picture is written.
// Printed names keep the separator the user typed.
//
// A PATH that is missing, a device or not a regular file, and an output
// that must not be written, become refused entries, and the others go on;
// an output that exists is skipped unless options.force, or with
// options.update, it is older than its picture or records another look
// (one that records none goes by its time alone). False, with an exit code and a
// sentence, when the run must stop before any work: the output folder
// cannot be made (only its last part may be missing), or is a file, a
// device or a pipe. Inputs and outputs are compared as files, however their
// paths are spelled.
bool PlanPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, uint16_t& code,
                  std::string& sentence);
