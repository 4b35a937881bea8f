// Message boxes on a terminal: the box printed as text, the button read as a typed answer.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// Shows each box on `out` (UTF-8: icon mark and caption, the text with each CR as a line break,
// then the buttons) and reads the answer from `in`, a terminal or answers piped in.
// OK-only boxes wait for one line, or the end of input, and give OK. An OK and Cancel box takes
// an empty line, "ok", "o", "s", "si" or "sì" as OK and "annulla", "a", "n" or "no" as Cancel
// (any case, blanks around ignored), asks again for anything else, and gives Cancel at the end
// of input, as a closed box does.
class TerminalMessageBoxes : public MessageBoxes {
public:
    TerminalMessageBoxes(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override;

private:
    std::istream& in_;
    std::ostream& out_;
};

}  // namespace aggiorna::portable
