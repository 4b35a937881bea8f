// The run's log of the Windows build: one file per run under the desktop user's
// %LOCALAPPDATA%\Aggiorna Archivio.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::windows {

class FileRunLog final : public RunLog {
public:
    void write_line(std::string_view) override {}
    std::string where() override { return {}; }
};

}  // namespace aggiorna::windows
