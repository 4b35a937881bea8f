// The registry backend over RegOpenKeyExW, RegQueryValueExA/W, ExpandEnvironmentStringsW and RegCloseKey.
#include "platform/windows/registry.h"

#include <cstring>
#include <vector>

#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

// The predefined roots are 0x80000000 to 0x800000FF as 32-bit values; Windows sign-extends them
// in a 64-bit HKEY (HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002 there).
bool is_root(RegKey key) { return key >= 0x80000000u && key <= 0x800000FFu; }

HKEY to_hkey(RegKey key) {
    if (is_root(key)) {
        return reinterpret_cast<HKEY>(
            static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(key))));
    }
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

std::wstring expand_environment(const std::wstring& text) {
    // The expanded text may be longer than the stored one; asked again with the size Windows gives.
    std::wstring expanded(text.size() + 64, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed =
            ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        if (needed == 0) return text;
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);  // the count includes the terminator
            return expanded;
        }
        expanded.resize(needed);
    }
    return text;
}

RegKey WindowsRegistry::open_key(RegKey parent, std::string_view name, std::uint32_t access) {
    if (parent == 0) return 0;
    std::wstring wide_name;
    try {
        wide_name = to_wide(name, code::bad_file_name_or_number);
    } catch (const Error&) {
        return 0;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(to_hkey(parent), wide_name.c_str(), 0, access, &opened) != ERROR_SUCCESS) {
        return 0;
    }
    return reinterpret_cast<RegKey>(opened);
}

bool WindowsRegistry::query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                                  std::uint32_t& length) {
    if (key == 0) return false;
    const std::optional<std::string> ansi_name = utf8_to_ansi(name);
    if (!ansi_name || ansi_name->find('\0') != std::string::npos) return false;
    std::vector<BYTE> scratch(area.size());
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(scratch.size());
    const LSTATUS status = RegQueryValueExA(to_hkey(key), ansi_name->c_str(), nullptr, &type,
                                            scratch.empty() ? nullptr : scratch.data(), &size);
    if (status != ERROR_SUCCESS || size > area.size()) return false;
    if (size > 0) std::memcpy(area.data(), scratch.data(), size);
    length = size;
    return true;
}

namespace {

struct StringValue {
    DWORD type;
    std::wstring text;
};

// A REG_SZ or REG_EXPAND_SZ value as stored, read in UTF-16; nullopt when it is missing or of
// another type.
std::optional<StringValue> read_string(HKEY key, const std::wstring& wide_name) {
    // The value may grow between the size query and the read: try again with the new size.
    std::vector<BYTE> data(256);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status = RegQueryValueExW(key, wide_name.empty() ? nullptr : wide_name.c_str(), nullptr,
                                                &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(size + sizeof(wchar_t));
            continue;
        }
        if (status != ERROR_SUCCESS) return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        // A stored string may or may not carry its terminator; the text ends at the first NUL.
        const std::size_t end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        return StringValue{type, std::move(text)};
    }
    return std::nullopt;
}

std::optional<std::wstring> wide_name_of(std::string_view name) {
    try {
        return to_wide(name, code::bad_file_name_or_number);
    } catch (const Error&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::wstring> registry_path_value(HKEY key, const std::wstring& name) {
    auto value = read_string(key, name);
    if (!value) return std::nullopt;
    if (value->type == REG_EXPAND_SZ) return expand_environment(value->text);
    return std::move(value->text);
}

std::optional<std::string> WindowsRegistry::query_string(RegKey key, std::string_view name) {
    const auto wide_name = wide_name_of(name);
    if (key == 0 || !wide_name) return std::nullopt;
    const auto value = read_string(to_hkey(key), *wide_name);
    if (!value) return std::nullopt;
    return to_utf8(value->text);
}

std::optional<std::string> WindowsRegistry::query_path(RegKey key, std::string_view name) {
    const auto wide_name = wide_name_of(name);
    if (key == 0 || !wide_name) return std::nullopt;
    const auto value = registry_path_value(to_hkey(key), *wide_name);
    if (!value) return std::nullopt;
    return to_utf8(*value);
}

void WindowsRegistry::close_key(RegKey key) {
    if (key == 0 || is_root(key)) return;
    RegCloseKey(to_hkey(key));
}

}  // namespace aggiorna::windows
