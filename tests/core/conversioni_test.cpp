// Tests of the number conversions: locale number reading, rounding halves to even, range limits.
#include "settings/conversioni.h"

#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace aggiorna {
namespace {

using testing::FakeLocale;

int codice_di(auto&& azione) {
    try {
        azione();
    } catch (const Error& e) {
        return e.code();
    }
    return 0;
}

struct CasoLettura {
    const char* testo;
    NumberFormat formato;
    std::optional<double> atteso;  // nullopt: type mismatch
};

class LetturaLocale : public ::testing::TestWithParam<CasoLettura> {};

TEST_P(LetturaLocale, ReadsAsTheLocaleWritesOrFailsWith13) {
    const auto& c = GetParam();
    if (c.atteso) {
        EXPECT_EQ(LeggiNumeroLocale(c.testo, c.formato), *c.atteso) << '"' << c.testo << '"';
    } else {
        EXPECT_EQ(codice_di([&] { LeggiNumeroLocale(c.testo, c.formato); }), code::type_mismatch)
            << '"' << c.testo << '"';
    }
}

const NumberFormat it = FakeLocale::italian();
const NumberFormat en = FakeLocale::english();
const NumberFormat indiano{".", ",", "3;2;0"};
const NumberFormat senza_gruppi{".", "", "0"};
const NumberFormat solo_tre{".", ",", "3"};  // one group of three, the rest together
const NumberFormat francese{",", "\xE2\x80\xAF", "3;0"};

INSTANTIATE_TEST_SUITE_P(
    Tabella, LetturaLocale,
    ::testing::Values(
        CasoLettura{"3", it, 3.0}, CasoLettura{"2,5", it, 2.5}, CasoLettura{"2.5", en, 2.5},
        CasoLettura{"  7 \t\r\n", it, 7.0}, CasoLettura{"+4", it, 4.0}, CasoLettura{"-1,5", it, -1.5},
        CasoLettura{"-0", en, -0.0}, CasoLettura{",5", it, 0.5}, CasoLettura{"5,", it, 5.0},
        CasoLettura{"1.234,5", it, 1234.5}, CasoLettura{"1,234.5", en, 1234.5},
        CasoLettura{"1.234.567", it, 1234567.0}, CasoLettura{"1234567,25", it, 1234567.25},
        CasoLettura{"12,34,567.5", indiano, 1234567.5}, CasoLettura{"1234,567", solo_tre, 1234567.0},
        CasoLettura{"1E3", en, 1000.0}, CasoLettura{"1,5e-1", it, 0.15}, CasoLettura{"2D2", en, 200.0},
        CasoLettura{"1e-400", en, 0.0},
        CasoLettura{"1\xE2\x80\xAF" "234,5", francese, 1234.5}, CasoLettura{"1 234,5", francese, 1234.5},
        // Not numbers in these locales.
        CasoLettura{"", it, std::nullopt}, CasoLettura{"   ", it, std::nullopt},
        CasoLettura{"abc", it, std::nullopt}, CasoLettura{"3a", it, std::nullopt},
        CasoLettura{"1.5", it, std::nullopt},   // point-decimal text, not a grouping Italian writes
        CasoLettura{"0.001", it, std::nullopt}, // nor this
        CasoLettura{"2,5", en, std::nullopt}, CasoLettura{"1,2,3", en, std::nullopt},
        CasoLettura{"12.34", it, std::nullopt}, CasoLettura{"1234.567", it, std::nullopt},
        CasoLettura{".123", it, std::nullopt}, CasoLettura{"1..234", it, std::nullopt},
        CasoLettura{"1.234.", it, std::nullopt}, CasoLettura{"1,234,5", en, std::nullopt},
        CasoLettura{"1,234", senza_gruppi, std::nullopt}, CasoLettura{"1,234,567", solo_tre, std::nullopt},
        CasoLettura{"1 234", it, std::nullopt}, CasoLettura{"+", it, std::nullopt},
        CasoLettura{",", it, std::nullopt}, CasoLettura{"--1", it, std::nullopt},
        CasoLettura{"1E", en, std::nullopt}, CasoLettura{"1E+", en, std::nullopt},
        CasoLettura{"&H10", en, std::nullopt}, CasoLettura{"1 -", en, std::nullopt}));

TEST(LetturaLocale, NumberBeyondADoubleIsOverflow) {
    EXPECT_EQ(codice_di([] { LeggiNumeroLocale("1E400", en); }), code::overflow);
    EXPECT_EQ(codice_di([] { LeggiNumeroLocale("-1E400", en); }), code::overflow);
}

TEST(Arrotondamento, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, double> casi[] = {
        {2.5, 2}, {3.5, 4}, {0.5, 0}, {1.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
        {2.4999999999999996, 2}, {2.5000000000000004, 3}, {-0.49999999999999994, 0}, {-0.5000000000000001, -1},
        {1e300, 1e300}, {7, 7}};
    for (auto [numero, atteso] : casi) EXPECT_EQ(ArrotondaPari(numero), atteso) << numero;
}

TEST(Intervalli, TwoByteIntegerLimits) {
    EXPECT_EQ(ConvertiIntero(-32768), -32768);
    EXPECT_EQ(ConvertiIntero(32767), 32767);
    EXPECT_EQ(ConvertiIntero(32767.5 - 1), 32766);   // 32766.5 to the even 32766
    EXPECT_EQ(ConvertiIntero(-32768.5), -32768);     // the half goes to the even limit
    EXPECT_EQ(codice_di([] { ConvertiIntero(32767.5); }), code::overflow);
    EXPECT_EQ(codice_di([] { ConvertiIntero(-32769); }), code::overflow);
    EXPECT_EQ(codice_di([] { ConvertiIntero(32768); }), code::overflow);
    EXPECT_EQ(codice_di([] { ConvertiIntero(std::numeric_limits<double>::quiet_NaN()); }), code::overflow);
}

TEST(Intervalli, ByteLimits) {
    EXPECT_EQ(ConvertiByte(0), 0);
    EXPECT_EQ(ConvertiByte(255), 255);
    EXPECT_EQ(ConvertiByte(-0.5), 0);
    EXPECT_EQ(ConvertiByte(254.5), 254);
}

TEST(Intervalli, ByteOutsideIsOverflow) {
    for (double numero : {256.0, -1.0, -0.6, 255.5, 1e10})
        EXPECT_EQ(codice_di([&] { ConvertiByte(numero); }), code::overflow) << numero;
}

TEST(Intervalli, SingleOverflowAndNearestSingle) {
    EXPECT_EQ(ConvertiSingolo(11.232), 11.232f);
    EXPECT_EQ(static_cast<double>(ConvertiSingolo(11.232)), 11.232000350952148);
    EXPECT_EQ(ConvertiSingolo(3.4028235e38), std::numeric_limits<float>::max());
    EXPECT_EQ(ConvertiSingolo(1e-50), 0.0f);
    EXPECT_EQ(codice_di([] { ConvertiSingolo(LeggiNumeroLocale("1E39", en)); }), code::overflow);
    EXPECT_EQ(codice_di([] { ConvertiSingolo(-1e39); }), code::overflow);
    EXPECT_EQ(codice_di([] { ConvertiSingolo(3.5e38); }), code::overflow);
}

}  // namespace
}  // namespace aggiorna
