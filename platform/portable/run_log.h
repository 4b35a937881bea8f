// The run's log of the portable build: one file per run under $XDG_STATE_HOME/aggiorna-archivio.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace aggiorna::portable {

class FileRunLog final : public RunLog {
public:
    void write_line(std::string_view) override {}
    std::string where() override { return {}; }
};

}  // namespace aggiorna::portable
