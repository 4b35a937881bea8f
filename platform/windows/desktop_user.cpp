// The desktop's user from the shell window's process token; folders through SHGetFolderPathW.
#include "platform/windows/desktop_user.h"

#include <vector>

#include "platform/windows/text.h"
#include "platform/windows/win.h"

#include <sddl.h>

namespace aggiorna::windows {
namespace {

constexpr DWORD kFolderRights = TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE;

// The TOKEN_USER of a token, in a buffer of its own; empty when it cannot be read.
std::vector<BYTE> token_user(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    return user;
}

DWORD shell_process() {
    const HWND shell = GetShellWindow();
    DWORD process_id = 0;
    if (shell == nullptr || GetWindowThreadProcessId(shell, &process_id) == 0) return 0;
    return process_id;
}

ScopedHandle open_shell_token(DWORD process_id, DWORD access) {
    const EnabledPrivilege debug(L"SeDebugPrivilege");
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process.valid()) return {};
    HANDLE token = nullptr;
    if (!OpenProcessToken(process.get(), access, &token)) return {};
    return ScopedHandle(token);
}

bool same_user_as_this_run(HANDLE token) {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
    const ScopedHandle owned(own);
    const std::vector<BYTE> mine = token_user(own);
    const std::vector<BYTE> theirs = token_user(token);
    if (mine.empty() || theirs.empty()) return false;
    return EqualSid(reinterpret_cast<const TOKEN_USER*>(mine.data())->User.Sid,
                    reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid) != 0;
}

}  // namespace

EnabledPrivilege::EnabledPrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    token_ = ScopedHandle(token);
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return;
    DWORD size = 0;
    // The previous state lists only what the call changed: nothing when it was enabled already.
    if (!AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous_, &previous_, &size)) return;
    changed_ = GetLastError() == ERROR_SUCCESS && previous_.PrivilegeCount > 0;
}

EnabledPrivilege::~EnabledPrivilege() {
    if (changed_) AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
}

DesktopUserQueries system_desktop_user_queries() {
    return {shell_process, open_shell_token, same_user_as_this_run};
}

DesktopUser find_desktop_user(const DesktopUserQueries& queries) {
    DesktopUser user;
    const DWORD process_id = queries.shell_process();
    if (process_id == 0) return user;  // no shell (a service's desktop): the run's own user
    user.token = queries.open_token(process_id, kFolderRights);
    if (user.token.valid()) {
        user.other = !queries.same_user(user.token.get());
        return user;
    }
    // This run's own processes always open to it: a shell that does not is another account's,
    // whatever the token read for querying alone says of whom.
    const ScopedHandle readable = queries.open_token(process_id, TOKEN_QUERY);
    if (readable.valid() && queries.same_user(readable.get())) return user;
    user.other = true;
    user.unknown = true;
    return user;
}

std::string user_folder(int csidl, HANDLE token) try {
    wchar_t path[MAX_PATH + 1] = {};
    if (SHGetFolderPathW(nullptr, csidl, token, SHGFP_TYPE_CURRENT, path) == S_OK && path[0] != L'\0') {
        return to_utf8(path);
    }
    return {};
} catch (...) {
    return {};
}

UserFolder desktop_user_folder_of(int csidl, const DesktopUserQueries& queries) try {
    const DesktopUser user = find_desktop_user(queries);
    UserFolder folder{{}, user.other, user.unknown};
    if (user.unknown) return folder;
    if (user.token.valid()) folder.path = user_folder(csidl, user.token.get());
    // Another account's folder never falls back to this run's own: that would update the wrong
    // user's copies and say it was done.
    if (folder.path.empty() && user.other) {
        folder.unknown = true;
        return folder;
    }
    if (folder.path.empty()) folder.path = user_folder(csidl, nullptr);
    return folder;
} catch (...) {
    return {};
}

std::string desktop_user_folder(int csidl) {
    return desktop_user_folder_of(csidl, system_desktop_user_queries()).path;
}

std::string account_name(HANDLE token) try {
    const std::vector<BYTE> user = token_user(token);
    if (user.empty()) return {};
    PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
        return domain[0] != L'\0' ? to_utf8(domain) + "\\" + to_utf8(name) : to_utf8(name);
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return {};
    const ScopedLocal owned(text);
    return to_utf8(text);
} catch (...) {
    return {};
}

}  // namespace aggiorna::windows
