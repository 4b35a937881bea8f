// The machine's places the kit answers for: the registry keys and folders it changes (written in
// the journal before the first change), and the host's own keys and classes, whose presence means
// a real installation that the kit must leave alone.
#pragma once

#include <string>
#include <vector>

#include "journal.h"
#include "scenarios.h"

namespace kit {

inline const wchar_t* const kClsidAggiornamento = L"{438870EE-520F-11D5-BDD5-004033A00C30}";
inline const wchar_t* const kClsidCifratore = L"{957766AF-14CE-11D2-95CA-0000B43369D3}";
inline const wchar_t* const kClsidDecodificatore = L"{957766B5-14CE-11D2-95CA-0000B43369D3}";
inline const wchar_t* const kClasses = L"Software\\Classes\\CLSID\\";
inline const wchar_t* const kQuintrel4 = L"Software\\Quibex\\Quintrel! 4";
inline const wchar_t* const kAppPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe";
inline const wchar_t* const kSettings = L"Software\\AggiornaKit";
inline const wchar_t* const kLayers = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Every registry key the kit's scenarios and test programs write, each in the view it is written
// in. A key that is missing stands for its highest missing parent in the journal, so that the
// put-back also removes the parents its creation made.
std::vector<KeyPlace> keys_the_kit_changes();

// The folders the scenarios make. Each is checked before the start: one that exists (not made by
// the kit) stops it, so that the kit never removes what it did not make.
std::vector<std::wstring> folders_the_kit_makes(const Places& places);

// The folder of the journal: %ProgramData%\AggiornaKit.
std::wstring journal_folder();

// What a real installation of the host leaves, where this machine has it: its key and the App
// Paths entry of quintrel.exe in both registry views (and per user), its preferences, and the
// three component classes machine-wide and per user, in both views. One line each, naming it.
std::vector<std::string> host_installation();

}  // namespace kit
