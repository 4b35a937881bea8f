// The delivered files checked before anything is asked.
#include "update/consegna.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <sstream>

namespace aggiorna {
namespace {

constexpr const char* kSomme = "SHA256SUMS";
// A sums file of the delivery names a few files; anything much larger is not one.
constexpr std::size_t kSommeAlMassimo = 64 * 1024;

bool Uguali(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Minuscolo(std::string testo) {
    for (char& c : testo) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return testo;
}

// The sums file's text; nullopt when there is none or it cannot be read whole.
std::optional<std::string> LeggiSomme(FileSystem& files, Diario& diario, const std::string& percorso) {
    const auto fatti = files.file_facts(percorso);
    if (!fatti) return std::nullopt;
    if (!fatti->regular || fatti->size > kSommeAlMassimo) {
        diario.Riga(std::string(kSomme) + ": not a sums file, not used");
        return std::nullopt;
    }
    try {
        const auto file = files.open_for_reading(percorso);
        std::string testo(static_cast<std::size_t>(fatti->size), '\0');
        const std::size_t letti =
            file->read_at(0, {reinterpret_cast<std::uint8_t*>(testo.data()), testo.size()});
        testo.resize(letti);
        return testo;
    } catch (const Error& e) {
        diario.Riga(std::string(kSomme) + ": cannot be read, not used (" + e.what() + ")");
        return std::nullopt;
    }
}

}  // namespace

std::string SommaDi(const std::string& somme, const std::string& nome) {
    std::istringstream righe(somme);
    std::string riga;
    while (std::getline(righe, riga)) {
        if (!riga.empty() && riga.back() == '\r') riga.pop_back();
        if (riga.size() < 66 || riga[64] != ' ' || (riga[65] != ' ' && riga[65] != '*')) continue;
        const std::string somma = riga.substr(0, 64);
        if (somma.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) continue;
        if (Uguali(std::string_view(riga).substr(66), nome)) return Minuscolo(somma);
    }
    return {};
}

Consegna ControllaConsegna(FileSystem& files, Diario& diario, const std::string& cartella,
                           const std::vector<std::string>& nomi) {
    Consegna esito;
    std::vector<std::string> interi;
    for (const std::string& nome : nomi) {
        const auto fatti = files.file_facts(cartella + "\\" + nome);
        if (!fatti || fatti->directory) {
            diario.Riga("delivered " + nome + ": " + (fatti ? "a folder, not a file" : "missing"));
            esito.mancanti.push_back(nome);
        } else if (!fatti->regular || fatti->size == 0) {
            diario.Riga("delivered " + nome + ": " + (fatti->regular ? "empty" : "not a plain file"));
            esito.danneggiati.push_back(nome);
        } else {
            interi.push_back(nome);
        }
    }
    // A missing file is what the user must see first: a check of the others' sums would only
    // read them for nothing.
    if (!esito.mancanti.empty()) return esito;

    const auto somme = LeggiSomme(files, diario, cartella + "\\" + kSomme);
    if (!somme) return esito;
    for (const std::string& nome : interi) {
        const std::string attesa = SommaDi(*somme, nome);
        if (attesa.empty()) {
            diario.Riga("delivered " + nome + ": no line in " + kSomme + ", not checked");
            continue;
        }
        try {
            const std::string trovata = files.sha256(cartella + "\\" + nome);
            if (trovata == attesa) {
                diario.Riga("delivered " + nome + ": SHA-256 " + trovata + ", as " + kSomme + " says");
                continue;
            }
            diario.Riga("delivered " + nome + ": SHA-256 " + trovata + ", " + kSomme + " says " + attesa);
        } catch (const Error& e) {
            diario.Riga("delivered " + nome + ": cannot be read (" + e.what() + ")");
        }
        esito.danneggiati.push_back(nome);
    }
    return esito;
}

}  // namespace aggiorna
