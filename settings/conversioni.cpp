// Number conversions of the host's runtime: locale number reading, rounding and range checks.
#include "settings/conversioni.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace aggiorna {
namespace {

bool e_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool e_cifra(char c) { return c >= '0' && c <= '9'; }

bool inizia_con(std::string_view testo, std::size_t pos, std::string_view prefisso) {
    return !prefisso.empty() && testo.substr(pos, prefisso.size()) == prefisso;
}

// The locale's digit grouping, from the "3;2;0" form: group sizes from the decimal separator
// leftwards; a final 0 repeats the last size, otherwise digits beyond the listed groups stay
// together. No sizes means the locale does not group.
struct Raggruppamento {
    std::vector<int> misure;
    bool ripeti = false;

    // The size of group `j` counted from the right (0 next to the decimal separator), or 0 when
    // the locale puts no separator to the left of group j - 1.
    int misura(std::size_t j) const {
        if (j < misure.size()) return misure[j];
        return ripeti && !misure.empty() ? misure.back() : 0;
    }
};

Raggruppamento leggi_raggruppamento(std::string_view forma) {
    Raggruppamento r;
    std::size_t pos = 0;
    while (pos <= forma.size()) {
        std::size_t fine = forma.find(';', pos);
        if (fine == std::string_view::npos) fine = forma.size();
        int n = 0;
        auto [p, ec] = std::from_chars(forma.data() + pos, forma.data() + fine, n);
        if (ec != std::errc() || p != forma.data() + fine || n < 0 || n > 9) return {};  // malformed: no grouping
        if (n == 0) {
            r.ripeti = true;
            break;
        }
        r.misure.push_back(n);
        pos = fine + 1;
    }
    return r;
}

// True when the digit groups `gruppi` (left to right, at least two) are placed as the locale
// writes them.
bool gruppi_validi(const std::vector<std::string>& gruppi, const Raggruppamento& regola) {
    const std::size_t k = gruppi.size() - 1;
    if (gruppi.front().front() == '0') return false;  // the locale never writes "0.001"
    for (std::size_t j = 0; j < k; ++j) {
        int attesa = regola.misura(j);
        if (attesa == 0 || gruppi[k - j].size() != static_cast<std::size_t>(attesa)) return false;
    }
    int massimo = regola.misura(k);
    return massimo == 0 || gruppi.front().size() <= static_cast<std::size_t>(massimo);
}

[[noreturn]] void non_numero(std::string_view testo) {
    throw Error(code::type_mismatch, "not a number in the user's locale: \"" + std::string(testo) + "\"");
}

}  // namespace

double LeggiNumeroLocale(std::string_view testo, const NumberFormat& formato) {
    std::string_view decimale = formato.decimal_separator.empty() ? std::string_view(".")
                                                                  : std::string_view(formato.decimal_separator);
    std::string_view migliaia = formato.thousands_separator;
    Raggruppamento regola = leggi_raggruppamento(formato.grouping);
    if (migliaia == decimale || regola.misure.empty()) migliaia = {};
    // Separators that look like a blank: a blank typed in their place is meant as the same.
    const bool blank_come_migliaia = migliaia == "\xC2\xA0" || migliaia == "\xE2\x80\xAF";

    std::size_t inizio = 0, fine = testo.size();
    while (inizio < fine && e_blank(testo[inizio])) ++inizio;
    while (fine > inizio && e_blank(testo[fine - 1])) --fine;
    const std::string_view t = testo.substr(inizio, fine - inizio);

    std::size_t pos = 0;
    bool negativo = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) negativo = t[pos++] == '-';

    // Integer part, split at the thousands separators.
    std::vector<std::string> gruppi(1);
    for (;;) {
        if (pos < t.size() && e_cifra(t[pos])) {
            gruppi.back() += t[pos++];
            continue;
        }
        std::size_t lunghezza = 0;
        if (inizia_con(t, pos, migliaia)) lunghezza = migliaia.size();
        else if (blank_come_migliaia && pos < t.size() && t[pos] == ' ') lunghezza = 1;
        if (lunghezza == 0) break;
        if (gruppi.back().empty() || pos + lunghezza >= t.size() || !e_cifra(t[pos + lunghezza])) non_numero(testo);
        pos += lunghezza;
        gruppi.emplace_back();
    }
    if (gruppi.size() > 1 && !gruppi_validi(gruppi, regola)) non_numero(testo);
    std::string intera;
    for (const auto& g : gruppi) intera += g;

    std::string frazione;
    if (inizia_con(t, pos, decimale)) {
        pos += decimale.size();
        while (pos < t.size() && e_cifra(t[pos])) frazione += t[pos++];
    }
    if (intera.empty() && frazione.empty()) non_numero(testo);

    std::string esponente;
    long long valore_esponente = 0;  // saturated, for telling overflow from underflow
    if (pos < t.size() && (t[pos] == 'E' || t[pos] == 'e' || t[pos] == 'D' || t[pos] == 'd')) {
        ++pos;
        bool esponente_negativo = false;
        if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
            esponente_negativo = t[pos] == '-';
            esponente += t[pos++];
        }
        if (pos >= t.size() || !e_cifra(t[pos])) non_numero(testo);
        while (pos < t.size() && e_cifra(t[pos])) {
            if (valore_esponente < 1'000'000'000) valore_esponente = valore_esponente * 10 + (t[pos] - '0');
            esponente += t[pos++];
        }
        if (esponente_negativo) valore_esponente = -valore_esponente;
    }
    if (pos != t.size()) non_numero(testo);

    std::string canonico = negativo ? "-" : "";
    canonico += intera.empty() ? "0" : intera;
    if (!frazione.empty()) canonico += "." + frazione;
    if (!esponente.empty()) canonico += "e" + esponente;

    double numero = 0;
    auto [p, ec] = std::from_chars(canonico.data(), canonico.data() + canonico.size(), numero,
                                   std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the decimal magnitude tells which.
        std::size_t primo = intera.find_first_not_of('0');
        long long grandezza = primo != std::string::npos
                                  ? static_cast<long long>(intera.size() - primo)
                                  : -static_cast<long long>(frazione.find_first_not_of('0'));
        if (grandezza + valore_esponente > 0) throw Error(code::overflow, "number beyond a double: " + std::string(testo));
        return negativo ? -0.0 : 0.0;
    }
    if (ec != std::errc() || p != canonico.data() + canonico.size()) non_numero(testo);
    return numero;
}

double ArrotondaPari(double numero) {
    if (!std::isfinite(numero)) return numero;
    const double sotto = std::floor(numero);
    const double resto = numero - sotto;  // exact wherever it could be near one half
    if (resto < 0.5) return sotto;
    if (resto > 0.5) return sotto + 1;
    return std::fmod(sotto, 2.0) == 0 ? sotto : sotto + 1;
}

std::int16_t ConvertiIntero(double numero) {
    const double r = ArrotondaPari(numero);
    if (!(r >= -32768.0 && r <= 32767.0)) throw Error(code::overflow, "beyond a 2-byte integer");
    return static_cast<std::int16_t>(r);
}

std::uint8_t ConvertiByte(double numero) {
    const double r = ArrotondaPari(numero);
    if (!(r >= 0.0 && r <= 255.0)) throw Error(code::overflow, "beyond a byte");
    return static_cast<std::uint8_t>(r);
}

float ConvertiSingolo(double numero) {
    // Numbers from halfway between the largest single and 2^128 upwards round to infinity.
    constexpr double limite = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
    if (!(std::fabs(numero) < limite)) throw Error(code::overflow, "beyond a single");
    return static_cast<float>(numero);
}

}  // namespace aggiorna
