// What duotint-cli prints while it runs: a line on standard output for each
// picture written or skipped, a sentence on standard error for each one that
// failed and a note for what a folder's walk left out, a summary line at the
// end when outputs that exist were left alone or earlier outputs left out,
// and, when standard error is a console, one progress line redrawn in place.
// The runner's workers call it side by side; each call prints whole lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/plan.h"

class Reporter {
public:
    // stdout and stderr; the progress line only when stderr is a console.
    explicit Reporter(bool quiet);
    // Other streams, and whether err is to be treated as a console.
    Reporter(bool quiet, FILE* out, FILE* err, bool errIsConsole);

    // "holiday.jpg -> holiday-.jpg  4000 x 3000  182 ms" on out, unless quiet.
    void Done(const PlannedPicture& picture, int width, int height, double ms);
    // A picture left alone, "skipped: a-.jpg exists", on out, unless quiet.
    void Skipped(const std::string& line);
    // A line on a folder's walk, "photos: 2 subfolders not entered; -r
    // enters them", or on what a picture's output leaves out, "note:
    // beach.png: its EXIF (70 KB) does not fit a JPEG segment and is left
    // out", on err, always.
    void Note(const std::string& line);
    // The sentence, which names the file, on err, always.
    void Failed(const PlannedPicture& picture, uint16_t code, const std::string& sentence);
    // Any other sentence on err, always: the run stopped before any work.
    void Error(const std::string& sentence);
    // Redraws the progress line: pictures done of total, MB/s of input read,
    // time left. At most ten redraws a second, and the last one always.
    void Progress(uint32_t done, uint32_t total, uint64_t bytesDone, double elapsedSeconds);
    // Clears the progress line, at the end of the run.
    void Finish();
    // When `kept` outputs that exist were left alone, `redone` were written
    // again by --update, or `leftOut` earlier outputs were not taken for
    // pictures, one line on out, unless quiet, that counts the run's
    // pictures and says how to have them written: "47 pictures: 2 written,
    // 45 up to date (...), 1 left out". A rerun is never silent about what
    // it did or did not do.
    void Summary(uint32_t kept, uint32_t redone, uint32_t leftOut, bool update);

private:
    void ClearProgress();  // with the mutex held
    void Write(FILE* stream, const std::string& text);

    std::mutex mutex_;
    const bool quiet_;
    FILE* const out_;
    FILE* const err_;
    const bool progressShown_;
    size_t progressWidth_ = 0;  // characters of the line on screen; 0: none
    uint32_t written_ = 0;      // pictures written
    uint32_t failed_ = 0;       // pictures refused or failed (not folders)
    double lastDrawn_ = -1;
};
