// The bench's scale. A full run measures pictures of a camera's size and
// repeats each measurement for a median and a spread; the smoke run
// (--smoke, which CI makes) takes every path once, on pictures a tenth the
// size a side, so that a crash or a missing line shows in seconds. No
// figure of a smoke run means anything.
#pragma once

#include <cstdint>

extern bool benchSmoke;

// `full` repetitions, or one in a smoke run.
inline int Repeats(int full) { return benchSmoke ? 1 : full; }

// A side of `full` pixels, or a tenth of it in a smoke run.
inline int32_t Side(int32_t full) { return benchSmoke ? full / 10 : full; }
