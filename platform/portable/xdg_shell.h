// XdgShell: the shell special folders of a freedesktop.org (XDG) user session.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

// The value of `key` (e.g. "XDG_DESKTOP_DIR") in the text of a user-dirs.dirs file, with a leading
// "$HOME" or "${HOME}" replaced by `home` and a trailing "/" removed; empty when the key is
// missing or its value is neither absolute nor under $HOME (such a line is ignored, and an earlier
// one is kept). The last valid line for the key wins, as when the file is sourced by a shell.
std::string user_dir_from_text(std::string_view text, std::string_view key, std::string_view home);

class XdgShell final : public Shell {
public:
    // kCsidlDesktop: XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs
    // when XDG_CONFIG_HOME is unset, empty or relative), else $HOME/Desktop. The path is native
    // and is not checked for existence. Any other folder, or no home folder, gives empty text.
    // Reads the environment and the file at every call; never throws.
    std::string special_folder(int csidl) override;
};

}  // namespace aggiorna::portable
