// Message boxes shown with MessageBoxW, texts converted from UTF-8.
#include "platform/windows/message_boxes.h"

#include "platform/windows/text.h"

namespace aggiorna::windows {

int WindowsMessageBoxes::message_box(std::string_view text, std::uint32_t style,
                                     std::string_view caption) {
    const std::wstring wide_text = to_wide_lossy(text);
    const std::wstring wide_caption = to_wide_lossy(caption);
    const int answer =
        show_(nullptr, wide_text.c_str(), wide_caption.c_str(), style | MB_SETFOREGROUND);
    return answer == 0 ? box_answer::cancel : answer;
}

}  // namespace aggiorna::windows
