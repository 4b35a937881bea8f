// Shell special folders of the desktop's user.
#include "platform/windows/shell.h"

#include "platform/windows/desktop_user.h"

namespace aggiorna::windows {

std::string WindowsShell::special_folder(int csidl) noexcept try {
    return desktop_user_folder(csidl);
} catch (...) {
    return {};
}

}  // namespace aggiorna::windows
