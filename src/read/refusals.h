// The sentences that refuse a picture: why it cannot be read, as the person
// who named it reads them (UTF-8, the picture named as given).
#pragma once

#include <cstdint>

#include "formats/probe.h"
#include "read/decode_process.h"
#include "support/failure.h"

// The probe's clause in words: what a picture it refuses is ("a 12-bit
// JPEG"), or why it is damaged ("a chunk runs past the end of the file");
// empty for none. Every clause is worded here, and only here.
const char* ProbeClauseWords(ProbeClause clause);

// A refusal of the picture (exit code 13) in a sentence made as printf makes one.
Failure Refuse(const char* format, ...);

// Whether a BMP header is of the one kind our reader reads: those are
// decided by it alone, never handed on.
bool IsOurKindOfBmp(const uint8_t* h);

// Why the decoding of a picture the probe let through came to nothing: the
// outcome, the kind the probe found, the picture's name and first bytes
// (a BMP header's worth), and the decoder's budget and size.
Failure RefuseDecoded(DecodeOutcome outcome, ContainerKind kind, const char* name, const uint8_t* h,
                      const DecoderProcess& decoder);
