// Tests of the leading-number reading.
#include "settings/numero_iniziale.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace aggiorna {
namespace {

struct Caso {
    std::string testo;
    double atteso;
};

class NumeroInizialeTest : public ::testing::TestWithParam<Caso> {};

TEST_P(NumeroInizialeTest, ReadsTheLeadingNumber) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(LeggiNumeroIniziale(c.testo), c.atteso) << "text: [" << c.testo << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, NumeroInizialeTest,
    ::testing::Values(
        Caso{"12", 12}, Caso{"12,5", 12}, Caso{"1 000", 1000}, Caso{" \t\n1\t2\n3 ", 123},
        Caso{"12.75", 12.75}, Caso{"-3", -3}, Caso{"+4", 4}, Caso{"- 3", -3}, Caso{".5", 0.5},
        Caso{"-.25", -0.25}, Caso{"7.", 7}, Caso{"1.2.3", 1.2}, Caso{"0012", 12},
        Caso{"1.5E2", 150}, Caso{"1.5e2", 150}, Caso{"1.5D2", 150}, Caso{"1.5d-2", 0.015},
        Caso{"2E+3", 2000}, Caso{"2 E 3", 2000}, Caso{"2E", 2}, Caso{"2E+", 2}, Caso{"2Ex", 2},
        Caso{"3abc", 3}, Caso{"4\r5", 4}, Caso{"1e-400", 0}, Caso{"0.000e999999999999", 0}));

INSTANTIATE_TEST_SUITE_P(
    NoNumber, NumeroInizialeTest,
    ::testing::Values(Caso{"", 0}, Caso{"   ", 0}, Caso{"abc", 0}, Caso{"E5", 0}, Caso{".", 0},
                      Caso{"-", 0}, Caso{"--3", 0}, Caso{"+-3", 0}, Caso{"$5", 0}, Caso{"&", 0},
                      Caso{"&X10", 0}));

// Whole numbers in the host runtime's 32-bit form.
INSTANTIATE_TEST_SUITE_P(
    HexAndOctal, NumeroInizialeTest,
    ::testing::Values(Caso{"&H10", 16}, Caso{"&h1f", 31}, Caso{"& H 1 0", 16}, Caso{"&HFFFF", 65535},
                      Caso{"&H7FFFFFFF", 2147483647}, Caso{"&HFFFFFFFF", -1},
                      Caso{"&H80000000", -2147483648.0}, Caso{"&H0000000010", 16}, Caso{"&H1G", 1},
                      Caso{"&H", 0}, Caso{"&O17", 15}, Caso{"&o777", 511}, Caso{"&O18", 1},
                      Caso{"&O37777777777", -1}, Caso{"&H1.5", 1}));

TEST(NumeroIniziale, BeyondDoubleIsInfinityWithItsSign) {
    EXPECT_EQ(LeggiNumeroIniziale("1E400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeggiNumeroIniziale("-1D999999999999999999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeggiNumeroIniziale("&H100000000"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeggiNumeroIniziale("&O40000000000"), std::numeric_limits<double>::infinity());
}

TEST(NumeroIniziale, ExtremesOfDouble) {
    EXPECT_DOUBLE_EQ(LeggiNumeroIniziale("1E39"), 1e39);
    EXPECT_DOUBLE_EQ(LeggiNumeroIniziale("1.7976931348623157E308"), 1.7976931348623157e308);
    std::string lungo(400, '0');
    lungo = "0." + lungo + "5";
    EXPECT_EQ(LeggiNumeroIniziale(lungo), 0.0);  // below the smallest double
}

}  // namespace
}  // namespace aggiorna
