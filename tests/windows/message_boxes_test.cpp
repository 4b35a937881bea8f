// Message boxes: what reaches MessageBoxW, through a stand-in for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/message_boxes.h"

namespace aggiorna::windows {
namespace {

struct Shown {
    std::wstring text;
    std::wstring caption;
    UINT style;
};
std::vector<Shown> shown;
int answer = box_answer::ok;

int WINAPI record(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    EXPECT_EQ(owner, nullptr);
    shown.push_back({text, caption, style});
    return answer;
}

// Every box comes to the front (MB_SETFOREGROUND), and nothing else of its style changes: not
// its icon or buttons, and no modality flag.
TEST(MessageBoxes, EveryStyleIsShownInFrontAndOtherwiseUnchanged) {
    WindowsMessageBoxes boxes(record);
    const std::uint32_t styles[] = {box_style::error, box_style::information,
                                    box_style::confirmation};
    for (std::uint32_t style : styles) {
        shown.clear();
        answer = box_answer::ok;
        EXPECT_EQ(boxes.message_box("perchè è in esecuzione.\r", style, "Aggiornamento Archivio"),
                  box_answer::ok);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].style, style | MB_SETFOREGROUND);
        EXPECT_EQ(shown[0].style & (MB_SYSTEMMODAL | MB_TASKMODAL | MB_TOPMOST), 0u);
        EXPECT_EQ(shown[0].text, L"perch\u00e8 \u00e8 in esecuzione.\r");
        EXPECT_EQ(shown[0].caption, L"Aggiornamento Archivio");
    }
}

TEST(MessageBoxes, ABoxThatCannotBeShownCountsAsCancel) {
    WindowsMessageBoxes boxes(record);
    answer = 0;
    EXPECT_EQ(boxes.message_box("testo", box_style::confirmation, "titolo"), box_answer::cancel);
    answer = IDCANCEL;
    EXPECT_EQ(boxes.message_box("testo", box_style::confirmation, "titolo"), box_answer::cancel);
}

}  // namespace
}  // namespace aggiorna::windows
