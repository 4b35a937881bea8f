// UTF-8, UTF-16 and ANSI conversions with the Windows API.
#include "platform/windows/text.h"

#include "platform/platform.h"
#include "platform/windows/handles.h"
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

CodePageArguments code_page_arguments(std::uint32_t code_page) {
    switch (code_page) {
        case CP_UTF8:
            // Every character has its bytes in UTF-8; only an unpaired surrogate has none.
            return {WC_ERR_INVALID_CHARS, false};
        case CP_UTF7:
        case 42:     // Symbol
        case 54936:  // GB18030
        case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:  // ISO-2022, HZ
        case 57002: case 57003: case 57004: case 57005: case 57006:  // ISCII
        case 57007: case 57008: case 57009: case 57010: case 57011:
            return {0, false};
        default:
            return {WC_NO_BEST_FIT_CHARS, true};
    }
}

std::optional<std::string> utf8_to_code_page(std::string_view utf8, std::uint32_t code_page) {
    bool ok = false;
    const std::wstring wide = multi_byte_to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, ok);
    if (!ok) return std::nullopt;
    if (wide.empty()) return std::string();
    const CodePageArguments arguments = code_page_arguments(code_page);
    const int length = static_cast<int>(wide.size());
    BOOL used_default = FALSE;
    BOOL* const used_default_out = arguments.asks_used_default ? &used_default : nullptr;
    const int needed = WideCharToMultiByte(code_page, arguments.flags, wide.data(), length,
                                           nullptr, 0, nullptr, used_default_out);
    if (needed <= 0 || used_default) return std::nullopt;
    std::string converted(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(code_page, arguments.flags, wide.data(), length, converted.data(),
                            needed, nullptr, used_default_out) != needed ||
        used_default) {
        return std::nullopt;
    }
    // Without the default-character report, a character the code page lacks shows only as a
    // text that does not read back the same.
    if (!arguments.asks_used_default &&
        multi_byte_to_wide(code_page, 0, converted, ok) != wide) {
        return std::nullopt;
    }
    return converted;
}

std::optional<std::string> utf8_to_ansi(std::string_view utf8) {
    return utf8_to_code_page(utf8, GetACP());
}

std::string error_meaning(std::uint32_t native_error) {
    // English where the system has it, so that support reads every log alike; else the system's
    // own language.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(flags, nullptr, native_error, language,
                                            reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        const ScopedLocal owned(text);
        if (length == 0 || text == nullptr) continue;
        std::wstring meaning(text, length);
        const std::size_t end = meaning.find_last_not_of(L" \t\r\n.");
        meaning.resize(end == std::wstring::npos ? 0 : end + 1);
        for (wchar_t& c : meaning) {
            if (c == L'\r' || c == L'\n') c = L' ';
        }
        if (!meaning.empty()) return to_utf8(meaning);
    }
    return {};
}

std::string native_detail(std::string_view call, std::uint32_t native_error,
                          std::string_view path) {
    std::string detail(call);
    detail += " failed with Windows error " + std::to_string(native_error);
    const std::string meaning = error_meaning(native_error);
    if (!meaning.empty()) detail += " (" + meaning + ")";
    if (!path.empty()) {
        detail += " for '";
        detail += path;
        detail += "'";
    }
    return detail;
}

}  // namespace aggiorna::windows
