// The lists of keys and folders the kit changes, and the look for a real installation of the host.
#include "machine.h"

#include "platform/windows/text.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

// The class of the backend tests' own DLL search test.
const wchar_t* const kClsidProva = L"{6D0C1C57-3B1E-4A8E-9A41-2F550B7E13C4}";

std::wstring environment(const wchar_t* name, const wchar_t* otherwise) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? otherwise : value;
}

// A value of a key or of its subkey as text, for the line that names what was found.
std::string shown_value(HKEY key, const wchar_t* subkey, const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(key, subkey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    const std::string where = (subkey == nullptr ? "" : to_utf8(subkey) + " ") + (name == nullptr ? "default value" : to_utf8(name));
    return " (" + where + " = \"" + to_utf8(text) + "\")";
}

}  // namespace

std::vector<KeyPlace> keys_the_kit_changes() {
    std::vector<KeyPlace> keys = {
        // The scenarios: the hosts' keys in the 32-bit view, as the 32-bit host writes them.
        {HKEY_LOCAL_MACHINE, kQuintrel4, KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, kAppPath, KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, kSettings, 0},
        {HKEY_CURRENT_USER, kLayers, 0},
        // The backend tests (tests/windows): the keys their fixtures write and remove.
        {HKEY_LOCAL_MACHINE, L"Software\\AggiornaTest Vista32", KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, L"Software\\AggiornaTest Vista64", KEY_WOW64_64KEY},
        {HKEY_CURRENT_USER, L"Software\\AggiornaTest Valori", 0},
        {HKEY_CURRENT_USER, L"Software\\AggiornaTest Lunghi", 0},
        {HKEY_CURRENT_USER, L"Software\\AggiornaTest Stringhe", 0},
        {HKEY_CURRENT_USER, L"Software\\AggiornaTest Utf8", 0},
        {HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quintrel! 4 AggiornaTest", 0},
    };
    // The component classes (scenarios and backend tests), registered in the runner's own view,
    // which is the program's and the test programs'.
    for (const wchar_t* clsid : {kClsidAggiornamento, kClsidCifratore, kClsidDecodificatore, kClsidProva}) {
        for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) keys.push_back({root, std::wstring(kClasses) + clsid, 0});
    }
    return keys;
}

std::vector<std::wstring> folders_the_kit_makes(const Places& p) {
    return {p.root, p.program_files, p.virtual_copy(p.program_files), p.start_menu};
}

std::wstring journal_folder() { return environment(L"ProgramData", L"C:\\ProgramData") + L"\\AggiornaKit"; }

std::vector<std::string> host_installation() {
    struct Place {
        HKEY root;
        std::wstring path;
        const wchar_t* subkey;  // the value shown with the line, when there: `value` of `subkey`
        const wchar_t* value;
    };
    std::vector<Place> places = {
        {HKEY_LOCAL_MACHINE, kQuintrel4, nullptr, L"InstallPath"},
        {HKEY_LOCAL_MACHINE, kAppPath, nullptr, nullptr},
        {HKEY_CURRENT_USER, kAppPath, nullptr, nullptr},
        {HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quintrel! 4", nullptr, nullptr},
    };
    // A class's server names its file: a leftover of an earlier kit shows as such.
    for (const wchar_t* clsid : {kClsidAggiornamento, kClsidCifratore, kClsidDecodificatore}) {
        for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            places.push_back({root, std::wstring(kClasses) + clsid, L"InprocServer32", nullptr});
        }
    }
    std::vector<std::string> found;
    for (const Place& place : places) {
        // Named once, in the first view that has it: some keys are shared by the two views.
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(place.root, place.path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
            found.push_back(describe({place.root, place.path, view}) + shown_value(key, place.subkey, place.value));
            RegCloseKey(key);
            break;
        }
    }
    return found;
}

}  // namespace kit
