// The user whose desktop the program runs on, and that user's folders.
#pragma once

#include <functional>
#include <string>

#include "platform/windows/handles.h"

namespace aggiorna::windows {

// Started with "Run as administrator" and another account's password (a standard user typing an
// administrator's), the process is that account's; the desktop, the host and its virtual files
// are the user's at the desktop. That user is the one the shell's process runs for: its token,
// with the rights SHGetFolderPathW needs (TOKEN_QUERY, TOKEN_IMPERSONATE, TOKEN_DUPLICATE),
// gives their folders.
struct DesktopUser {
    ScopedHandle token;    // the shell's token with those rights; empty when it cannot be had
    bool other = false;    // the shell runs for another account than this run
    bool unknown = false;  // another account, or one that cannot be told, whose folders cannot be had
};

// What finding that user asks of Windows, so that a test can give the answers an elevated run
// with another account's password gets (Wine runs every program for one user).
struct DesktopUserQueries {
    // The shell's process (the desktop's window); 0 when there is no shell.
    std::function<DWORD()> shell_process;
    // That process's token with `access`, an empty handle when refused. Another account's
    // process opens only with SeDebugPrivilege enabled, which an elevated administrator's token
    // holds disabled: it is enabled around the two opens and put back after.
    std::function<ScopedHandle(DWORD process_id, DWORD access)> open_token;
    // Whether `token` is this run's account.
    std::function<bool(HANDLE token)> same_user;
};
DesktopUserQueries system_desktop_user_queries();

// The shell's user: its token with the rights for its folders, or the signal that it is another
// account's whose token could not be had. No shell: this run's user.
DesktopUser find_desktop_user(const DesktopUserQueries& queries);

// A folder (CSIDL_*) of the desktop's user as found by `queries`.
struct UserFolder {
    std::string path;      // empty when neither the user's nor (for this run's own user) the process's
    bool other = false;    // the desktop's user is not this run's
    bool unknown = false;  // that other user's folder could not be had: `path` is empty, never this run's own
};
UserFolder desktop_user_folder_of(int csidl, const DesktopUserQueries& queries);
// The path alone, asked of Windows.
std::string desktop_user_folder(int csidl);

// A folder (CSIDL_*) of the user `token` stands for, or of this process's own profile when
// `token` is empty. Empty text when it gives none.
std::string user_folder(int csidl, HANDLE token);

// A privilege of this process's token enabled for the object's life, then put back as it was.
// Does nothing where the token lacks the privilege.
class EnabledPrivilege {
public:
    explicit EnabledPrivilege(const wchar_t* name);
    ~EnabledPrivilege();
    EnabledPrivilege(const EnabledPrivilege&) = delete;
    EnabledPrivilege& operator=(const EnabledPrivilege&) = delete;
    // Whether this object enabled it (it was held, and disabled before).
    bool changed() const { return changed_; }

private:
    ScopedHandle token_;
    TOKEN_PRIVILEGES previous_ = {};
    bool changed_ = false;
};

// "DOMAIN\name" of the account a token stands for; its SID as text when the name cannot be found.
std::string account_name(HANDLE token);

}  // namespace aggiorna::windows
