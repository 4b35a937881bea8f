// Message boxes on a terminal: the box printed as text, the button read as a typed answer.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <ostream>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// Shows each box on `out` (UTF-8: icon mark and caption, the text with each CR as a line break,
// then the buttons) and reads the answer from `in`, a terminal or answers piped in.
// An answer ends at LF, CR or CR LF. OK-only boxes wait for one answer, or the end of input, and
// give OK. An OK and Cancel box takes an empty answer, "ok", "o", "s", "si" or "sì" as OK and
// "annulla", "a", "n" or "no" as Cancel (any case, blanks around ignored), asks again for anything
// else, and gives Cancel at the end of input, as a closed box does.
// An answer longer than kMaxAnswer bytes ends the input (what follows it can no longer be told
// apart from it): that box and every later one are answered as at the end of input. So are the
// boxes when `out` cannot be written (a closed terminal, a broken pipe): nobody sees them, and
// after kMaxInvalidAnswers answers in a row that are neither (`yes | AggiornaArchivio`): nobody
// answers them.
class TerminalMessageBoxes : public MessageBoxes {
public:
    static constexpr std::size_t kMaxAnswer = 4096;
    static constexpr int kMaxInvalidAnswers = 20;
    TerminalMessageBoxes(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override;

private:
    // The next answer; nullopt once the boxes are closed.
    std::optional<std::string> answer();

    std::istream& in_;
    std::ostream& out_;
    bool closed_ = false;    // end of input, or an answer too long
    bool after_cr_ = false;  // a LF just after it ends no further answer
};

}  // namespace aggiorna::portable
