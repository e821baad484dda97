// The decoding child's one procedure (see read/decode_process.h).
#pragma once

// Serves the program whose record and events the command line names, until
// the program ends it.
int RunDecoderChild(const wchar_t* commandLine);
