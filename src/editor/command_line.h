// "duotint.exe PATH": the picture named on the command line, which is also
// what "Open with" and a file dropped onto the program give; and the look an
// export was written with, as words for that command line and duotint-cli's,
// on standard output.
#pragma once

#include "options/words.h"  // the exit codes of a command line that cannot be taken

// "--tint R,G,B,DISP,DISTR,R,G,B,DISP" and "--format bmp|png|jpeg" (or
// "--tint=..."), the words duotint-cli takes too, may come before PATH among
// the arguments (0 is the program). They set state.startLook and
// state.exportFormat; either that cannot be read ends the program with one
// sentence and kExitUsage. Returns the index of PATH, count when none follows.
int TakeCommandLineOptions(wchar_t* const* arguments, int count);

// True when the command line names a picture: it is then state.picturePath,
// its export state.exportPath, and state.fileNamePtr the name the sentences
// use. A path that cannot be opened, or whose export can never be a file,
// ends the program with one sentence.
bool TakeCommandLinePicture();

// After the name popup found a picture: its export, beside it, that can
// never be a file or is the picture under another name ends the program
// with one sentence, as for a command-line PATH.
void CheckTypedPictureExport();

// Standard output, when the program was started with one it can write to (a
// console, a file or a pipe); taken before the program opens anything.
void TakeStandardOutput();

// The look of the export just written, as duotint-cli's words, on one line
// of standard output: "--tint R,G,B,DISP,DISTR,R,G,B,DISP", then " --format F",
// " --quality N" and " --chroma C" for those the command line gave. Nothing
// when the program has no standard output.
void WriteLookLine();
