// The execution level a program file's own manifest asks for: a host whose manifest asks for
// administrator rights always runs elevated, and reads the real files.
#pragma once

#include <string>
#include <string_view>

namespace aggiorna::windows {

// Whether a manifest's text asks to run as administrator: its requestedExecutionLevel element
// has level "requireAdministrator" or "highestAvailable" (for an administrator, the same).
bool manifest_asks_for_administrator(std::string_view manifest);

// The manifest of a program file (its RT_MANIFEST resource 1, as Windows reads it at start) as
// UTF-8 text; empty when it has none or the file cannot be read as a program. Loaded as data
// only: nothing of it runs.
std::string program_manifest(const std::wstring& program);

// Whether a program file directly in `folder` has a manifest that asks for administrator rights.
bool folder_has_program_with_administrator_manifest(const std::wstring& folder);

}  // namespace aggiorna::windows
