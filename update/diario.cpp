// The run's log: time stamps, quoted texts, and the boxes as the user saw them.
#include "update/diario.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace aggiorna {

void Diario::Riga(std::string_view testo) {
    const auto adesso = std::chrono::system_clock::now();
    const std::time_t secondi = std::chrono::system_clock::to_time_t(adesso);
    const auto millesimi =
        std::chrono::duration_cast<std::chrono::milliseconds>(adesso.time_since_epoch()).count() % 1000;
    char ora[32] = "(time unknown)";
    // The run has one thread: the C library's own buffer is safe here.
    if (const std::tm* locale = std::localtime(&secondi)) std::strftime(ora, sizeof ora, "%Y-%m-%d %H:%M:%S", locale);
    char riga[48];
    std::snprintf(riga, sizeof riga, "%s.%03d ", ora, static_cast<int>(millesimi));
    log_.write_line(std::string(riga) + std::string(testo));
}

std::string Citato(std::string_view testo) {
    std::string out = "\"";
    for (char c : testo) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out + "\"";
}

int ScatoleConDiario::message_box(std::string_view text, std::uint32_t style, std::string_view caption) {
    const char* tipo = style == box_style::error          ? "error"
                       : style == box_style::confirmation ? "confirmation"
                       : style == box_style::information  ? "information"
                                                          : "box";
    diario_.Riga(std::string("box (") + tipo + ", caption " + Citato(caption) + "): " + Citato(text));
    const int risposta = scatole_.message_box(text, style, caption);
    diario_.Riga(std::string("  answered ") + (risposta == box_answer::ok       ? "OK"
                                              : risposta == box_answer::cancel ? "Cancel"
                                                                               : std::to_string(risposta)));
    return risposta;
}

}  // namespace aggiorna
