// duotint-decode: decodes one picture for duotint with the platform's
// decoders, in a process of its own (see image/decode_process.h).
#include <windows.h>

#include "image/decode_process.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunDecoderChild(GetCommandLineW()); }
