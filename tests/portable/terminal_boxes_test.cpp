// Tests of the terminal message boxes: what is printed and how typed answers are read.
#include "platform/portable/terminal_boxes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace aggiorna::portable {
namespace {

struct Shown {
    int answer;
    std::string output;
    std::string unread;
};

Shown show(const std::string& input, std::uint32_t style, std::string_view text = "Testo",
           std::string_view caption = "Aggiornamento Archivio") {
    std::istringstream in(input);
    std::ostringstream out;
    TerminalMessageBoxes boxes(in, out);
    Shown shown;
    shown.answer = boxes.message_box(text, style, caption);
    shown.output = out.str();
    std::getline(in, shown.unread, '\0');
    return shown;
}

TEST(TerminalMessageBoxes, ConfirmationAnswers) {
    struct Case {
        const char* input;
        int answer;
    };
    const Case cases[] = {
        {"\n", box_answer::ok},
        {"ok\n", box_answer::ok},
        {"  OK \t\n", box_answer::ok},
        {"ok\r\n", box_answer::ok},
        {"o\n", box_answer::ok},
        {"S\n", box_answer::ok},
        {"si\n", box_answer::ok},
        {"s\xC3\xAC\n", box_answer::ok},
        {"S\xC3\x8C\n", box_answer::ok},
        {"ok", box_answer::ok},  // a last line without its line feed still counts
        {"annulla\n", box_answer::cancel},
        {"ANNULLA\n", box_answer::cancel},
        {"a\n", box_answer::cancel},
        {"N\n", box_answer::cancel},
        {" no \n", box_answer::cancel},
        {"", box_answer::cancel},              // end of input: the box was closed
        {"forse\nno\n", box_answer::cancel},   // asked again
        {"forse\n\n", box_answer::ok},
        {"forse\n", box_answer::cancel},
        {"okay\nsi\n", box_answer::ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
        EXPECT_EQ(show(c.input, box_style::confirmation).answer, c.answer);
    }
}

TEST(TerminalMessageBoxes, AnswersEndAtLineFeedCarriageReturnOrBoth) {
    struct Case {
        const char* input;
        std::vector<int> answers;  // of three confirmation boxes in a row
    };
    const Case cases[] = {
        {"ok\rno\rok\r", {box_answer::ok, box_answer::cancel, box_answer::ok}},
        {"ok\r\nno\r\n\r\n", {box_answer::ok, box_answer::cancel, box_answer::ok}},
        {"forse\rno\n\rok", {box_answer::cancel, box_answer::ok, box_answer::ok}},
        {"no\n\nok\r", {box_answer::cancel, box_answer::ok, box_answer::ok}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
        std::istringstream in(c.input);
        std::ostringstream out;
        TerminalMessageBoxes boxes(in, out);
        std::vector<int> answers;
        for (int i = 0; i < 3; ++i) answers.push_back(boxes.message_box("Testo", box_style::confirmation, "C"));
        EXPECT_EQ(answers, c.answers);
    }
}

TEST(TerminalMessageBoxes, AnOverlongAnswerEndsTheInput) {
    const std::string longest(TerminalMessageBoxes::kMaxAnswer, 'x');
    for (const std::string& input : {std::string(1 << 20, 'x') + "\nok\nok\n", std::string(1 << 20, '\0'),
                                     longest + "y\nok\n"}) {
        std::istringstream in(input);
        std::ostringstream out;
        TerminalMessageBoxes boxes(in, out);
        EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);
        EXPECT_EQ(boxes.message_box("Testo", box_style::information, "C"), box_answer::ok);
        EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);
        EXPECT_LE(static_cast<long long>(in.tellg()), static_cast<long long>(TerminalMessageBoxes::kMaxAnswer + 1))
            << "read no further than the cap";
        EXPECT_NE(out.str().find("Testo"), std::string::npos) << "later boxes are still shown";
    }
    // An answer of exactly the cap is still an answer.
    std::istringstream in(longest + "\nno\n");
    std::ostringstream out;
    TerminalMessageBoxes boxes(in, out);
    EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);  // unknown, then "no"
    EXPECT_NE(out.str().find("Rispondere"), std::string::npos);
}

// `yes | AggiornaArchivio`: an endless stream of answers that are neither OK nor Cancel. After a
// bounded number in a row the input counts as ended: Cancel, for this box and the later ones,
// with a bounded output. Fewer in a row, and a good answer still counts.
TEST(TerminalMessageBoxes, EndlessInvalidAnswersCloseTheBoxes) {
    constexpr int kMax = TerminalMessageBoxes::kMaxInvalidAnswers;
    std::string endless;
    for (int i = 0; i < 100000; ++i) endless += "y\n";
    std::istringstream in(endless);
    std::ostringstream out;
    TerminalMessageBoxes boxes(in, out);
    EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);
    EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);
    EXPECT_EQ(boxes.message_box("Testo", box_style::information, "C"), box_answer::ok);
    EXPECT_EQ(static_cast<long long>(in.tellg()), 2LL * kMax) << "read no further than the bound";
    EXPECT_LT(out.str().size(), 200u * kMax);

    std::string fewer;
    for (int i = 0; i + 1 < kMax; ++i) fewer += "forse\n";
    EXPECT_EQ(show(fewer + "ok\n", box_style::confirmation).answer, box_answer::ok);
    EXPECT_EQ(show(fewer + "annulla\n", box_style::confirmation).answer, box_answer::cancel);
}

TEST(TerminalMessageBoxes, AnUnwritableOutputIsAClosedBox) {
    std::istringstream in("ok\nok\n");
    std::ostringstream out;
    out.setstate(std::ios::badbit);  // what a write to a closed pipe leaves
    TerminalMessageBoxes boxes(in, out);
    EXPECT_EQ(boxes.message_box("Testo", box_style::confirmation, "C"), box_answer::cancel);
    EXPECT_EQ(boxes.message_box("Testo", box_style::error, "C"), box_answer::ok);
    EXPECT_EQ(in.tellg(), 0) << "no answer taken for a box nobody saw";
}

TEST(TerminalMessageBoxes, AsksAgainOnlyAfterAnUnknownAnswer) {
    const Shown once = show("ok\n", box_style::confirmation);
    const Shown twice = show("forse\nok\n", box_style::confirmation);
    EXPECT_EQ(twice.output.substr(0, once.output.size()), once.output);
    EXPECT_NE(twice.output.find("Rispondere", once.output.size()), std::string::npos);
}

TEST(TerminalMessageBoxes, OkOnlyBoxesTakeOneLineOrTheEnd) {
    for (const std::uint32_t style : {box_style::error, box_style::information}) {
        SCOPED_TRACE(style);
        EXPECT_EQ(show("", style).answer, box_answer::ok);
        const Shown shown = show("annulla\nnext\n", style);
        EXPECT_EQ(shown.answer, box_answer::ok);
        EXPECT_EQ(shown.unread, "next\n");
    }
    EXPECT_EQ(show("ok\nnext\n", box_style::confirmation).unread, "next\n");
}

TEST(TerminalMessageBoxes, PrintsIconCaptionTextAndButtons) {
    const std::string text = "Non \xC3\xA8 presente alcuna versione.\r\rImpossibile.";
    const Shown error = show("\n", box_style::error, text);
    EXPECT_NE(error.output.find("[X] Aggiornamento Archivio\n"), std::string::npos);
    EXPECT_NE(error.output.find("Non \xC3\xA8 presente alcuna versione.\n\nImpossibile.\n"), std::string::npos);
    EXPECT_EQ(error.output.find('\r'), std::string::npos);
    EXPECT_NE(error.output.find("OK"), std::string::npos);
    EXPECT_EQ(error.output.find("Annulla"), std::string::npos);

    const Shown information = show("\n", box_style::information);
    EXPECT_NE(information.output.find("[i] Aggiornamento Archivio"), std::string::npos);
    EXPECT_EQ(information.output.find("Annulla"), std::string::npos);

    const Shown confirmation = show("\n", box_style::confirmation);
    EXPECT_NE(confirmation.output.find("[i] Aggiornamento Archivio"), std::string::npos);
    EXPECT_NE(confirmation.output.find("Annulla"), std::string::npos);
}

TEST(TerminalMessageBoxes, TextCannotSteerTheTerminal) {
    const Shown shown = show("\n", box_style::error, "C:\\\x1b]0;x\x07\x1b[2J\\Estr.bin \xFF\xC2\x9B", "Cap\x1b[1m");
    for (const char c : shown.output) {
        const auto u = static_cast<unsigned char>(c);
        EXPECT_TRUE(u >= 0x20 || c == '\n') << "control byte " << int(u);
    }
    EXPECT_EQ(shown.output.find("\xC2\x9B"), std::string::npos);  // the one-byte CSI of C1
    EXPECT_NE(shown.output.find("\\Estr.bin "), std::string::npos);
}

}  // namespace
}  // namespace aggiorna::portable
