// The desktop's user from the shell window's process token; folders through SHGetFolderPathW.
#include "platform/windows/desktop_user.h"

#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

ScopedHandle desktop_user_token() {
    const HWND shell = GetShellWindow();
    DWORD process_id = 0;
    if (shell == nullptr || GetWindowThreadProcessId(shell, &process_id) == 0 || process_id == 0) {
        return {};
    }
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process.valid()) return {};
    HANDLE token = nullptr;
    // SHGetFolderPathW impersonates the token it is given: it needs both rights.
    if (!OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_IMPERSONATE, &token)) return {};
    return ScopedHandle(token);
}

std::string user_folder(int csidl, HANDLE token) try {
    wchar_t path[MAX_PATH + 1] = {};
    if (token != nullptr &&
        SHGetFolderPathW(nullptr, csidl, token, SHGFP_TYPE_CURRENT, path) == S_OK && path[0] != L'\0') {
        return to_utf8(path);
    }
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK) return to_utf8(path);
    return {};
} catch (...) {
    return {};
}

std::string desktop_user_folder(int csidl) {
    const ScopedHandle token = desktop_user_token();
    return user_folder(csidl, token.get());
}

}  // namespace aggiorna::windows
