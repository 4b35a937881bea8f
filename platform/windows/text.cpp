// UTF-8, UTF-16 and ANSI conversions with the Windows API.
#include "platform/windows/text.h"

#include "platform/platform.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

std::wstring multi_byte_to_wide(UINT code_page, DWORD flags, std::string_view text, bool& ok) {
    ok = true;
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(code_page, flags, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        ok = false;
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(code_page, flags, text.data(), length, wide.data(), needed);
    return wide;
}

}  // namespace

std::wstring to_wide(std::string_view utf8, int error_code) {
    bool ok = false;
    std::wstring wide = multi_byte_to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, ok);
    if (!ok) throw Error(error_code, "text is not valid UTF-8: " + std::string(utf8));
    return wide;
}

std::wstring to_wide_lossy(std::string_view utf8) {
    bool ok = false;
    return multi_byte_to_wide(CP_UTF8, 0, utf8, ok);
}

std::string to_utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

std::string ansi_to_utf8(std::string_view ansi) {
    bool ok = false;
    return to_utf8(multi_byte_to_wide(CP_ACP, 0, ansi, ok));
}

std::optional<std::string> utf8_to_ansi(std::string_view utf8) {
    bool ok = false;
    const std::wstring wide = multi_byte_to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, ok);
    if (!ok) return std::nullopt;
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    BOOL used_default = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, &used_default);
    if (needed <= 0 || used_default) return std::nullopt;
    std::string ansi(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, ansi.data(), needed,
                        nullptr, &used_default);
    if (used_default) return std::nullopt;
    return ansi;
}

std::string native_detail(std::string_view call, std::uint32_t native_error,
                          std::string_view path) {
    std::string detail(call);
    detail += " failed with Windows error " + std::to_string(native_error);
    if (!path.empty()) {
        detail += " for '";
        detail += path;
        detail += "'";
    }
    return detail;
}

}  // namespace aggiorna::windows
