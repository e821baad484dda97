// Decimal decomposition for the panel: thirteen significant digits, a decimal
// exponent and a sign, worked out in 80-bit extended arithmetic.
//
// The results near the power-of-ten tolerance and the carry of trailing
// nines depend on every step running with a 64-bit significand, so the x87
// unit must be in extended precision (StartRuntimeSupport) when this runs.
#include "editor/digits.h"

#include <cmath>

#include "support/trunc.h"

namespace {

// ln 10 as the extended value with bit pattern 0x4000 935D8DDDAAA8AC17.
constexpr long double kLn10 = 0x9.35D8DDDAAA8AC17p-2L;
// Magnitudes below this come out as zero.
constexpr long double kZeroThreshold = 1e-14L;
// How close log10 of the magnitude must be to a whole number for the
// magnitude to be a candidate for a power of ten ...
constexpr long double kPowerTolerance = 1e-9L;
// ... and how close, relative to it, the magnitude must then be to that
// power. Only the rounding of the arithmetic fits in here: 999999999 and
// 1000000001 are 1e-9 from 10^9 and are shown digit by digit.
constexpr long double kPowerMatch = 1e-15L;
constexpr long double kDigitBase = 10.0L;

}  // namespace

char DigitChar(uint8_t d)
{
    if (d > 9)
        return 0;
    return static_cast<char>('0' + d);
}

DecimalDigits DecomposeDecimal(long double value)
{
    DecimalDigits result;
    int32_t digit[13] = {};
    result.sign = 1;
    result.exponent = 0;

    if (value < 0) {
        value = -value;
        result.sign = -1;
    }
    if (value >= kZeroThreshold) {
        long double t = logl(value) / kLn10;
        // Round to nearest, ties to even (the x87 unit's rounding mode).
        long double n = rintl(t);
        long double power = expl(n * kLn10);
        if (fabsl(t - n) < kPowerTolerance && fabsl(value - power) <= power * kPowerMatch) {
            result.exponent = static_cast<int32_t>(n) + 1;
            digit[0] = 1;
        } else {
            int32_t whole = static_cast<int32_t>(Trunc(t));
            result.exponent = value > 1 ? whole + 1 : whole;
            // 10^(exponent - 1), computed and therefore not exact; the carry
            // below absorbs the ...999 quotients that this produces.
            long double scale = expl(static_cast<long double>(result.exponent - 1) * kLn10);
            long double m = value / scale;
            for (int k = 0; k <= 12; ++k) {
                int32_t d = static_cast<int32_t>(Trunc(m));
                m = (m - d) * kDigitBase;
                digit[k] = d;
            }
            // Round up only when the last three digits are all nines.
            int k = 12;
            while (k > 0 && digit[k] == 9)
                --k;
            if (k < 10) {
                ++digit[k];
                for (int j = k + 1; j <= 12; ++j)
                    digit[j] = 0;
            }
        }
    }
    for (int k = 0; k <= 12; ++k)
        result.digits[k] = DigitChar(static_cast<uint8_t>(digit[k]));
    return result;
}
