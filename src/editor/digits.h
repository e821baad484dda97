// Decimal decomposition of a value for the panel's character-by-character display.
#pragma once

#include <cstdint>

struct DecimalDigits {
    char digits[13];   // significant digits, most significant first; not a string
    int32_t exponent;  // magnitude = 0.d0 d1 ... d12 x 10^exponent
    int32_t sign;      // +1, or -1 below zero
};

DecimalDigits DecomposeDecimal(long double value);
char DigitChar(uint8_t d);
