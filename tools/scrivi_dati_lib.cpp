// scrivi_dati_lib: writes a "Dati.lib" settings file from a readable description of its values.
//
// Usage: scrivi_dati_lib [options] description.txt output/Dati.lib
//
// The description is UTF-8 text, one item per line; blank lines and lines starting with "#" are
// skipped. An item is `Name = value`. The value is the text after "=" with the blanks around it
// removed; written between double quotes it is taken exactly as it stands between them, so that
// blanks at its ends stay: `ID = "abc  "`. Names are compared without regard to case:
//
//   Societa (or Società), DescrizioneSocieta (DescrizioneSocietà), Citta (Città), Nazione,
//   Campo5, email, IndirizzoWeb, NumeroConto, IntestazioneConto, PrezzoBaseEuro,
//   PercAggiornamento, Sconto2, Sconto3, Sconto3piu (Sconto3più), PercPrezzoSped, IndirizzoFTP,
//   IndAggiornamento, Provenienza, Campo19
//           the 19 fields of the general block, in file order; Campo1 to Campo19 name them too.
//           Number fields are written as the text given ("12.5"). A field not given is blank.
//   ID, PW0 to PW9
//           the access block; a text not given is empty.
//   file = [<n> |] name
//           one entry of the file list, in order; <n> is its leading 2-byte integer (default 0).
//           The names are stored as plain text, since the reader does not decode them.
//   tip = <n> | text
//           one entry of the tip list, in order.
//
// Every text is converted to Windows-1252 (a character outside it is an error) and encoded with
// the program's stand-in scheme and key; a general-block field is padded with blanks to its 160
// characters before it is encoded, so that the reader, which decodes all 160 and removes the
// trailing blanks, gets the text back.
//
// Options, for fixtures that the description alone cannot make:
//   --posizione P          position of the general block, counted from 1 (default 32500)
//   --identificativo N     the 4-byte number at offset 0 (default 0x56985784; 0x prefix = hex)
//   --conteggio-file N     the file-list count written, whatever the entries (e.g. 0)
//   --conteggio-tips N     the tip count written, whatever the entries (e.g. 501)
//   --riempimento B        the byte that fills offsets 4 to P - 2 (default 0)
//   --coda N               N further bytes (0xEE) after the tip block
//   --tronca N             keep only the first N bytes of the file
//
// Exit status 0 on success, 1 on a faulty description or a write failure, 2 on wrong usage.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/portable/cp1252.h"
#include "platform/portable/decodifica_sostitutiva.h"
#include "settings/chiave.h"

namespace {

using aggiorna::portable::CodificaTestoSostitutivo;
using aggiorna::portable::utf8_to_cp1252;

struct Voce {
    std::int16_t valore = 0;
    std::string testo;  // UTF-8
};

struct Descrizione {
    std::string campi[19];  // UTF-8
    std::string accesso[11];
    std::vector<Voce> file;
    std::vector<Voce> tips;
};

struct Opzioni {
    std::int32_t posizione = 32500;
    std::uint32_t identificativo = 0x56985784u;
    std::optional<std::int16_t> conteggio_file;
    std::optional<std::int16_t> conteggio_tips;
    std::uint8_t riempimento = 0;
    std::size_t coda = 0;
    std::optional<std::size_t> tronca;
};

struct Sbaglio : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Minuscolo(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string SenzaBlanchi(const std::string& s) {
    const auto inizio = s.find_first_not_of(" \t\r");
    if (inizio == std::string::npos) return {};
    return s.substr(inizio, s.find_last_not_of(" \t\r") - inizio + 1);
}

std::string Valore(const std::string& grezzo) {
    std::string v = SenzaBlanchi(grezzo);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
    return v;
}

long long Numero(const std::string& testo, long long minimo, long long massimo, const std::string& cosa) {
    const std::string t = SenzaBlanchi(testo);
    std::size_t fine = 0;
    long long n = 0;
    try {
        n = std::stoll(t, &fine, 0);
    } catch (const std::exception&) {
        throw Sbaglio(cosa + ": not a number: " + t);
    }
    if (fine != t.size()) throw Sbaglio(cosa + ": not a number: " + t);
    if (n < minimo || n > massimo) throw Sbaglio(cosa + ": out of range: " + t);
    return n;
}

Voce VoceDa(const std::string& grezzo, bool numero_obbligatorio, const std::string& cosa) {
    const auto barra = grezzo.find('|');
    if (barra == std::string::npos) {
        if (numero_obbligatorio) throw Sbaglio(cosa + ": expected <n> | text");
        return {0, Valore(grezzo)};
    }
    return {static_cast<std::int16_t>(Numero(grezzo.substr(0, barra), -32768, 32767, cosa)),
            Valore(grezzo.substr(barra + 1))};
}

const std::map<std::string, int>& IndiciCampi() {
    static const std::map<std::string, int> indici = [] {
        std::map<std::string, int> m;
        const char* nomi[] = {"societa", "descrizionesocieta", "citta", "nazione", "campo5", "email",
                              "indirizzoweb", "numeroconto", "intestazioneconto", "prezzobaseeuro",
                              "percaggiornamento", "sconto2", "sconto3", "sconto3piu", "percprezzosped",
                              "indirizzoftp", "indaggiornamento", "provenienza", "campo19"};
        for (int k = 0; k < 19; ++k) {
            m[nomi[k]] = k;
            m["campo" + std::to_string(k + 1)] = k;
        }
        m["societ\xc3\xa0"] = 0;
        m["descrizionesociet\xc3\xa0"] = 1;
        m["citt\xc3\xa0"] = 2;
        m["sconto3pi\xc3\xb9"] = 13;
        return m;
    }();
    return indici;
}

Descrizione LeggiDescrizione(std::istream& in) {
    Descrizione d;
    std::string riga;
    int numero_riga = 0;
    while (std::getline(in, riga)) {
        ++numero_riga;
        if (numero_riga == 1 && riga.rfind("\xEF\xBB\xBF", 0) == 0) riga.erase(0, 3);  // a UTF-8 mark
        const std::string dove = "line " + std::to_string(numero_riga);
        const std::string pulita = SenzaBlanchi(riga);
        if (pulita.empty() || pulita[0] == '#') continue;
        const auto uguale = riga.find('=');
        if (uguale == std::string::npos) throw Sbaglio(dove + ": expected Name = value");
        const std::string nome = Minuscolo(SenzaBlanchi(riga.substr(0, uguale)));
        const std::string resto = riga.substr(uguale + 1);
        if (auto it = IndiciCampi().find(nome); it != IndiciCampi().end()) {
            d.campi[it->second] = Valore(resto);
        } else if (nome == "id") {
            d.accesso[0] = Valore(resto);
        } else if (nome.size() == 3 && nome.rfind("pw", 0) == 0 && nome[2] >= '0' && nome[2] <= '9') {
            d.accesso[1 + (nome[2] - '0')] = Valore(resto);
        } else if (nome == "file") {
            d.file.push_back(VoceDa(resto, false, dove));
        } else if (nome == "tip") {
            d.tips.push_back(VoceDa(resto, true, dove));
        } else {
            throw Sbaglio(dove + ": unknown name " + nome);
        }
    }
    return d;
}

std::string Ansi(const std::string& utf8, const std::string& cosa) {
    auto byte = utf8_to_cp1252(utf8);
    if (!byte) throw Sbaglio(cosa + ": text outside Windows-1252: " + utf8);
    return *byte;
}

void Parola(std::string& out, std::uint16_t n) {
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
}

void TestoContato(std::string& out, const std::string& byte, const std::string& cosa) {
    if (byte.size() > 0xFFFF) throw Sbaglio(cosa + ": longer than 65535 bytes");
    Parola(out, static_cast<std::uint16_t>(byte.size()));
    out += byte;
}

std::string ComponiFile(const Descrizione& d, const Opzioni& o) {
    const std::string chiave = Ansi(aggiorna::CostruisciChiave(), "key");
    auto codifica = [&](const std::string& byte) { return CodificaTestoSostitutivo(byte, chiave); };

    std::string out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((o.identificativo >> (8 * i)) & 0xFF));
    out.resize(static_cast<std::size_t>(o.posizione) - 1, static_cast<char>(o.riempimento));

    for (int k = 0; k < 19; ++k) {
        const std::string cosa = "field " + std::to_string(k + 1);
        std::string byte = Ansi(d.campi[k], cosa);
        if (byte.size() > 160) throw Sbaglio(cosa + ": longer than 160 characters");
        byte.resize(160, ' ');
        out += codifica(byte);
    }
    for (int i = 0; i < 11; ++i) {
        const std::string cosa = i == 0 ? std::string("ID") : "PW" + std::to_string(i - 1);
        TestoContato(out, codifica(Ansi(d.accesso[i], cosa)), cosa);
    }
    Parola(out, static_cast<std::uint16_t>(o.conteggio_file.value_or(static_cast<std::int16_t>(d.file.size()))));
    for (const auto& v : d.file) {
        Parola(out, static_cast<std::uint16_t>(v.valore));
        TestoContato(out, Ansi(v.testo, "file"), "file");
    }
    Parola(out, static_cast<std::uint16_t>(o.conteggio_tips.value_or(static_cast<std::int16_t>(d.tips.size()))));
    for (const auto& v : d.tips) {
        Parola(out, static_cast<std::uint16_t>(v.valore));
        TestoContato(out, codifica(Ansi(v.testo, "tip")), "tip");
    }
    out.append(o.coda, static_cast<char>(0xEE));
    if (o.tronca && *o.tronca < out.size()) out.resize(*o.tronca);
    return out;
}

int Uso() {
    std::cerr << "usage: scrivi_dati_lib [--posizione P] [--identificativo N] [--conteggio-file N]\n"
                 "       [--conteggio-tips N] [--riempimento B] [--coda N] [--tronca N]\n"
                 "       description.txt output/Dati.lib\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Opzioni o;
    std::vector<std::string> posizionali;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a.rfind("--", 0) != 0) {
                posizionali.push_back(a);
                continue;
            }
            if (i + 1 >= argc) return Uso();
            const std::string v = argv[++i];
            if (a == "--posizione") o.posizione = static_cast<std::int32_t>(Numero(v, 5, 100'000'000, a));
            else if (a == "--identificativo") o.identificativo = static_cast<std::uint32_t>(Numero(v, -2147483648LL, 0xFFFFFFFFLL, a));
            else if (a == "--conteggio-file") o.conteggio_file = static_cast<std::int16_t>(Numero(v, -32768, 32767, a));
            else if (a == "--conteggio-tips") o.conteggio_tips = static_cast<std::int16_t>(Numero(v, -32768, 32767, a));
            else if (a == "--riempimento") o.riempimento = static_cast<std::uint8_t>(Numero(v, 0, 255, a));
            else if (a == "--coda") o.coda = static_cast<std::size_t>(Numero(v, 0, 100'000'000, a));
            else if (a == "--tronca") o.tronca = static_cast<std::size_t>(Numero(v, 0, 1'000'000'000, a));
            else return Uso();
        }
        if (posizionali.size() != 2) return Uso();

        std::ifstream in(posizionali[0], std::ios::binary);
        if (!in) throw Sbaglio("cannot read " + posizionali[0]);
        const std::string dati = ComponiFile(LeggiDescrizione(in), o);

        std::ofstream out(posizionali[1], std::ios::binary | std::ios::trunc);
        out.write(dati.data(), static_cast<std::streamsize>(dati.size()));
        out.close();
        if (!out) throw Sbaglio("cannot write " + posizionali[1]);
    } catch (const Sbaglio& e) {
        std::cerr << "scrivi_dati_lib: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
