// duotint-cli's plan: which pictures the command line names, where each
// one's output goes, and which are refused before any work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/tint.h"

enum class OutputFormat { bmp, png, jpeg };

struct CliOptions {
    TintParameters look;
    std::wstring outFolder;   // empty: beside each picture
    OutputFormat format = OutputFormat::bmp;
    int quality = 92;         // JPEG only, 1 to 100
    int jobs = 0;             // 0: one worker per core
    bool force = false;
    bool quiet = false;
    std::vector<std::wstring> paths;
};

// One picture of the run: its file and its output, both full paths, and the
// names the lines print (UTF-8, as given on the command line or found).
struct PlannedPicture {
    std::wstring input;
    std::wstring output;
    std::string inputName;
    std::string outputName;
    // Non-zero: refused before any work (the output exists without --force,
    // another picture writes the same output, the output is an input...),
    // with this exit code and sentence.
    uint16_t refusedCode = 0;
    std::string refusal;
};
