// The run's log as support reads it: each line with its time, the boxes shown and their answers.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna {

class Diario {
public:
    explicit Diario(RunLog& log) : log_(log) {}
    // One line, after the local time to the millisecond ("2026-12-11 09:30:05.123").
    void Riga(std::string_view testo);
    RunLog& log() { return log_; }

private:
    RunLog& log_;
};

// A text between double quotes, its line breaks written "\r" and "\n", so that one box or value
// stays on one line of the log.
std::string Citato(std::string_view testo);

// The platform's message boxes, with each box shown and the answer given written to the log.
class ScatoleConDiario final : public MessageBoxes {
public:
    ScatoleConDiario(MessageBoxes& scatole, Diario& diario) : scatole_(scatole), diario_(diario) {}
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override;

private:
    MessageBoxes& scatole_;
    Diario& diario_;
};

}  // namespace aggiorna
