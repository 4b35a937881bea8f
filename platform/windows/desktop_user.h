// The user whose desktop the program runs on, and that user's folders.
#pragma once

#include <string>

#include "platform/windows/handles.h"

namespace aggiorna::windows {

// Started with "Run as administrator" and another account's credentials (a standard user typing
// an administrator's password), the process has that account's profile; the desktop, the host
// and its virtual files are the user's at the desktop. This is the shell's process token, with
// the rights the shell's folder calls need; an empty handle when there is no shell or its token
// is refused.
ScopedHandle desktop_user_token();

// A folder (CSIDL_*) of the user that `token` stands for, or of this process's own profile when
// `token` is empty or gives none. Empty text when neither gives it.
std::string user_folder(int csidl, HANDLE token);
// The same for the desktop's user (desktop_user_token).
std::string desktop_user_folder(int csidl);

}  // namespace aggiorna::windows
