// Whether a host is set to run as administrator: the compatibility setting "Run this program as
// an administrator" of its program files, its shortcuts, its program files' manifests.
#pragma once

#include <string>
#include <string_view>

namespace aggiorna::windows {

// Whether the data of a compatibility layers value asks for the program to run as administrator:
// one of its blank-separated words is RUNASADMIN ("~ RUNASADMIN WINXPSP3"), in any case.
bool layers_ask_for_administrator(std::wstring_view layers);

// Whether a program file in `folder` (or below it) is set to run as administrator: a value named
// after its path, under Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers of
// HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE (both registry views), that asks for it.
bool folder_has_program_run_as_administrator(const std::string& folder);

// Whether the host in `folder` runs elevated however it is started: the compatibility setting
// above, a program file's manifest that asks for administrator rights
// (folder_has_program_with_administrator_manifest), or a shortcut to one of its program files on
// the user's or the common Desktop or Start menu set to run as administrator
// (shortcut_runs_as_administrator). Never throws.
bool host_set_to_run_as_administrator(const std::string& folder);

}  // namespace aggiorna::windows
