// Where the portable backend finds the Windows environment it works on: a Wine prefix.
#pragma once

#include <filesystem>

namespace aggiorna::portable {

// $WINEPREFIX when set and not empty, else ~/.wine: Wine's own convention. The folder need not
// exist; a missing prefix is an empty registry with no drives.
std::filesystem::path wine_prefix();

}  // namespace aggiorna::portable
