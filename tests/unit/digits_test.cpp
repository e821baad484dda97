// The decimal decomposition behind the panel's numbers.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "editor/error.h"
#include "test_support.h"
#include "editor/digits.h"

namespace {

class DecomposeDecimalTest : public ProgramTest {};

struct DecompositionCase {
    const char* label;
    long double value;
    const char* digits;  // all thirteen
    int32_t exponent;
    int32_t sign;
};

const DecompositionCase kCases[] = {
    {"zero", 0.0L, "0000000000000", 0, 1},
    {"negative zero", -0.0L, "0000000000000", 0, 1},
    {"-7", -7.0L, "7000000000000", 1, -1},
    {"255 (carried up from 2.5499...)", 255.0L, "2550000000000", 3, 1},
    {"128", 128.0L, "1280000000000", 3, 1},
    {"1, power of ten", 1.0L, "1000000000000", 1, 1},
    {"10, power of ten", 10.0L, "1000000000000", 2, 1},
    {"100, power of ten", 100.0L, "1000000000000", 3, 1},
    {"1000, power of ten", 1000.0L, "1000000000000", 4, 1},
    {"0.1, power of ten", 0.1L, "1000000000000", 0, 1},
    {"0.5", 0.5L, "5000000000000", 0, 1},
    {"0.05", 0.05L, "5000000000000", -1, 1},
    {"0.012", 0.012L, "1200000000000", -1, 1},
    {"12.25", 12.25L, "1225000000000", 2, 1},
    {"1e-14 is the smallest power of ten", 1e-14L, "1000000000000", -13, 1},
    {"below the zero threshold", 9e-15L, "0000000000000", 0, 1},
    {"-1e-15 keeps its sign", -1e-15L, "0000000000000", 0, -1},
    {"999999997, digit by digit", 999999997.0L, "9999999970000", 9, 1},
    {"999999998, digit by digit", 999999998.0L, "9999999980000", 9, 1},
    {"999999999, digit by digit", 999999999.0L, "9999999990000", 9, 1},
    {"1000000000", 1000000000.0L, "1000000000000", 10, 1},
    {"1000000001, digit by digit", 1000000001.0L, "1000000001000", 10, 1},
    {"1000000002, digit by digit", 1000000002.0L, "1000000002000", 10, 1},
    {"1000000003, digit by digit", 1000000003.0L, "1000000003000", 10, 1},
    {"-999999997", -999999997.0L, "9999999970000", 9, -1},
    {"-999999998", -999999998.0L, "9999999980000", 9, -1},
    {"-999999999", -999999999.0L, "9999999990000", 9, -1},
    {"-1000000001", -1000000001.0L, "1000000001000", 10, -1},
    {"-1000000002", -1000000002.0L, "1000000002000", 10, -1},
    {"-1000000003", -1000000003.0L, "1000000003000", 10, -1},
    {"99999999, only the power itself is near 10^8", 99999999.0L, "9999999900000", 8, 1},
    {"100000001", 100000001.0L, "1000000010000", 9, 1},
    {"INT32_MAX", 2147483647.0L, "2147483647000", 10, 1},
    {"INT32_MIN", -2147483648.0L, "2147483648000", 10, -1},
    // Past the thirteenth digit the value goes on with 5, so the digits
    // taken are exact. Two trailing nines stay; three are carried.
    {"two trailing nines stay", 1.2345678900995L, "1234567890099", 1, 1},
    {"two trailing nines stay, negative", -1.2345678900995L, "1234567890099", 1, -1},
    {"three trailing nines carry", 1.2345678909995L, "1234567891000", 1, 1},
    {"a run of nines carries into the first non-nine", 3.9999999999995L, "4000000000000", 1, 1},
};

TEST_F(DecomposeDecimalTest, EdgeCases)
{
    for (const DecompositionCase& c : kCases) {
        DecimalDigits got = DecomposeDecimal(c.value);
        EXPECT_EQ(std::string(got.digits, 13), c.digits) << c.label;
        EXPECT_EQ(got.exponent, c.exponent) << c.label;
        EXPECT_EQ(got.sign, c.sign) << c.label;
    }
}

// Every 32-bit whole number decomposes into its exact digits: all of them
// within 1000 of a power of ten, where the logarithm comes close to a whole
// number, the two ends of the range, and a stride through all of it.
TEST_F(DecomposeDecimalTest, EveryWholeNumberGetsItsExactDigits)
{
    std::vector<int64_t> values = {INT32_MIN, INT32_MAX};
    for (int64_t power = 1; power <= 1000000000; power *= 10)
        for (int64_t n = power - 1000; n <= power + 1000; ++n)
            if (n != 0)
                values.insert(values.end(), {n, -n});
    for (int64_t n = INT32_MIN; n <= INT32_MAX; n += 99991)
        values.push_back(n);
    int failures = 0;
    for (int64_t n : values) {
        DecimalDigits got = DecomposeDecimal(static_cast<long double>(n));
        std::string expected = std::to_string(n < 0 ? -n : n);
        int32_t exponent = n == 0 ? 0 : static_cast<int32_t>(expected.size());
        expected.resize(13, '0');
        if (n == 0)
            expected = "0000000000000";
        if (std::string(got.digits, 13) != expected || got.exponent != exponent || got.sign != (n < 0 ? -1 : 1)) {
            ADD_FAILURE() << n << ": " << std::string(got.digits, 13) << " e" << got.exponent;
            if (++failures == 10)
                return;
        }
    }
}

// Values a few parts in 10^17 above or below a thirteen-digit boundary come
// out with the exact thirteen digits only when the logarithm, the power of
// ten and the digit loop keep a 64-bit significand; with double-precision
// steps about half of these cases lose one in the last digit.
TEST_F(DecomposeDecimalTest, ExtendedPrecisionResolvesDigitsNextToABoundary)
{
    static const int64_t kSignificands[] = {
        1234567890123, 2718281828459, 3141592653589, 9876543210987, 1414213562373, 5000000000001,
    };
    for (int32_t e = -3; e <= 12; ++e) {
        long double power = 1;  // 10^|e - 13|, exact in extended
        for (int32_t i = 0; i < (e < 13 ? 13 - e : e - 13); ++i)
            power *= 10;
        for (int64_t a : kSignificands) {
            for (int side = -1; side <= 1; side += 2) {
                long double value = static_cast<long double>(a) / power;
                value *= 1 + side * 3e-17L;
                // Just below the boundary the last digit is one less.
                std::string expected = std::to_string(side > 0 ? a : a - 1);
                DecimalDigits got = DecomposeDecimal(value);
                EXPECT_EQ(std::string(got.digits, 13), expected) << a << "e" << e - 13 << " side " << side;
                EXPECT_EQ(got.exponent, e) << a << "e" << e - 13;
            }
        }
    }
}

TEST(DigitChar, MapsDigitsAndNothingElse)
{
    for (uint8_t d = 0; d <= 9; ++d)
        EXPECT_EQ(DigitChar(d), static_cast<char>('0' + d));
    EXPECT_EQ(DigitChar(10), '\0');
    EXPECT_EQ(DigitChar(255), '\0');
}

}  // namespace
