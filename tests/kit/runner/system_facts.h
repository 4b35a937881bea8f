// What the runner knows of the system it runs on: Wine or Windows, its version and bitness, the
// runner's token, UAC's settings, the input desktop and the desktop shell's token. The kit's first
// line says all of it; the scenarios of a standard user's run decide from it whether they can run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win.h"

namespace kit {

bool under_wine();
// This process holds an administrator's full token (UAC's elevation, or no UAC).
bool elevated();
// UAC is on: EnableLUA under HKLM\...\Policies\System is not 0.
bool uac_on();
// The runner's desktop takes the user's input, so that the foreground is the user's to see (not so
// in a service's session, or where no one is signed in at the console).
bool on_input_desktop();
// Whether Windows virtualizes the process's file and registry writes (UAC virtualization).
bool virtualized(HANDLE process);

// What a process's token says.
struct TokenFacts {
    std::vector<BYTE> user;  // the user's SID
    std::string user_name;   // DOMAIN\name, or the SID's text
    TOKEN_ELEVATION_TYPE elevation_type = TokenElevationTypeDefault;
    bool elevated = false;
    bool virtualization_allowed = false;
};
std::optional<TokenFacts> token_facts(HANDLE process);

// The desktop shell: the process that owns the shell's window (Explorer), and its token.
struct ShellFacts {
    DWORD process_id = 0;              // 0: no shell window on this desktop
    std::optional<TokenFacts> token;  // none: its token could not be read
};
ShellFacts desktop_shell();

// Why a standard user's run, started through the desktop shell from the elevated runner, would not
// be what such a row claims here; empty when it would be: UAC on, the runner elevated, the shell
// running as the runner's own user with a filtered (limited) token that allows virtualization.
std::string standard_user_unavailable(bool uac, const TokenFacts& runner, const ShellFacts& shell);

// The kit's first line: system, version and bitness, elevation, UAC and its consent prompt,
// virtualization, the input desktop, the shell's user.
std::string system_report();

}  // namespace kit
