// Opening a picture the way a person meets it: the real duotint.exe, started
// in the current folder, is driven from this process with real key presses,
// and the time runs from Enter in the name popup to the editor ready.
#pragma once

#include <vector>

struct OpenTimes {
    std::vector<double> copyMs;         // CopyFileA of the picture before each open
    std::vector<double> previewMs;      // Enter to the preview window seen (polled)
    std::vector<double> editorMs;       // Enter to the editor ready
    std::vector<double> ratio;          // editorMs / copyMs of the same round
};

// Runs `rounds` opens of `picture` (a file of the current folder), typing
// `typedName` into the popup; duotint.exe is $DUOTINT_EXE. Returns false with
// a line on stderr if the program could not be driven.
bool MeasureOpenLatency(const char* picture, const char* typedName, int rounds, OpenTimes& times);
