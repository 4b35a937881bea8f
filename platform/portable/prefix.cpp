// Locating the Wine prefix.
#include "platform/portable/prefix.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace aggiorna::portable {

std::filesystem::path wine_prefix() {
    if (const char* p = std::getenv("WINEPREFIX"); p && *p) return p;
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".wine";
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return std::filesystem::path(pw->pw_dir) / ".wine";
    return ".wine";
}

}  // namespace aggiorna::portable
