// The leading-number reading of the host's runtime, computed in double precision.
#include "settings/numero_iniziale.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace aggiorna {
namespace {

bool ignorato(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool cifra(char c) { return c >= '0' && c <= '9'; }

// "&H" and "&O" whole numbers. Up to 32 bits are taken as a signed 32-bit value, as the host's
// runtime holds them: &HFFFF is 65535, &HFFFFFFFF is -1, &O17777777777 is 2147483647. More
// than 32 bits gives +infinity, so that a later conversion reports an overflow.
double NumeroIntero(std::string_view cifre, unsigned base) {
    std::uint64_t valore = 0;
    for (char c : cifre) {
        unsigned d;
        if (cifra(c)) d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
        else break;
        if (d >= base) break;
        valore = valore * base + d;
        if (valore > 0xFFFFFFFFu) return std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(valore)));
}

}  // namespace

double LeggiNumeroIniziale(std::string_view testo) {
    std::string t;
    t.reserve(testo.size());
    for (char c : testo)
        if (!ignorato(c)) t.push_back(c);

    if (!t.empty() && t[0] == '&') {
        if (t.size() >= 2 && (t[1] == 'H' || t[1] == 'h')) return NumeroIntero(std::string_view(t).substr(2), 16);
        if (t.size() >= 2 && (t[1] == 'O' || t[1] == 'o')) return NumeroIntero(std::string_view(t).substr(2), 8);
        return 0.0;
    }

    // The number in the form from_chars reads: [-]digits[.digits][e[-]digits].
    std::size_t i = 0;
    bool negativo = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negativo = t[i++] == '-';
    std::string numero = negativo ? "-" : "";
    bool cifre = false;
    // Decimal exponent of the first significant digit, to tell overflow from underflow.
    long long ordine = 0;
    bool significativa = false;
    for (; i < t.size() && cifra(t[i]); ++i) {
        numero.push_back(t[i]);
        cifre = true;
        if (t[i] != '0') significativa = true;
        if (significativa) ++ordine;
    }
    if (i < t.size() && t[i] == '.') {
        numero.push_back('.');
        for (++i; i < t.size() && cifra(t[i]); ++i) {
            numero.push_back(t[i]);
            cifre = true;
            if (!significativa && t[i] != '0') significativa = true;
            else if (!significativa) --ordine;
        }
    }
    if (!cifre) return 0.0;
    if (!significativa) return negativo ? -0.0 : 0.0;

    if (i < t.size() && (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd')) {
        std::size_t j = i + 1;
        bool esponente_negativo = false;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) esponente_negativo = t[j++] == '-';
        if (j < t.size() && cifra(t[j])) {
            // Saturated: beyond a million the result is infinity or zero either way.
            long long esponente = 0;
            for (; j < t.size() && cifra(t[j]); ++j)
                if (esponente < 1'000'000) esponente = esponente * 10 + (t[j] - '0');
            if (esponente_negativo) esponente = -esponente;
            ordine += esponente;
            numero += 'e' + std::to_string(esponente);
        }
    }

    double valore = 0.0;
    const auto [fine, errore] = std::from_chars(numero.data(), numero.data() + numero.size(), valore);
    (void)fine;
    if (errore == std::errc::result_out_of_range) {
        const double limite = ordine > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return negativo ? -limite : limite;
    }
    if (errore != std::errc()) return 0.0;
    return valore;
}

}  // namespace aggiorna
