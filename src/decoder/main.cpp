// duotint-decode: decodes one picture for duotint with libjpeg-turbo or the
// platform's decoders, in a process of its own (see read/decode_process.h).
#include <windows.h>

#include "decoder/child.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunDecoderChild(GetCommandLineW()); }
