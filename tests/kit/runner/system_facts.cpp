// Tokens, UAC's policy values and desktops, read through advapi32 and user32; the version through
// ntdll's RtlGetVersion, which no compatibility shim lowers.
#include "system_facts.h"

#include <sddl.h>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"

namespace kit {
namespace {

using aggiorna::windows::ScopedHandle;
using aggiorna::windows::to_utf8;

const wchar_t* const kPolicies = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// A DWORD of UAC's policy key (read in the system's own view); nullopt when it is not set.
std::optional<DWORD> policy(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicies, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD value = 0, size = sizeof value;
    const LONG status = RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::optional(value) : std::nullopt;
}

std::string account_of(PSID sid) {
    wchar_t name[256] = {}, domain[256] = {};
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
        return (domain[0] != 0 ? to_utf8(domain) + "\\" : std::string()) + to_utf8(name);
    }
    wchar_t* text = nullptr;
    std::string shown = "?";
    if (ConvertSidToStringSidW(sid, &text)) {
        shown = to_utf8(text);
        LocalFree(text);
    }
    return shown;
}

std::string desktop_name(HDESK desktop) {
    wchar_t name[256] = {};
    if (desktop == nullptr || !GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name, nullptr)) return {};
    return to_utf8(name);
}

std::string version() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    const auto get = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
    std::string text = "Windows";
    if (get != nullptr && get(&info) == 0) {
        text += " " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                std::to_string(info.dwBuildNumber);
    }
    using WineVersionFn = const char*(CDECL*)();
    if (const auto wine =
            reinterpret_cast<WineVersionFn>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")))) {
        text = std::string("Wine ") + wine() + " (as " + text + ")";
    }
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    const bool system64 = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                          system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                          system.wProcessorArchitecture == 12;  // PROCESSOR_ARCHITECTURE_ARM64
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return text + (system64 ? " 64-bit" : " 32-bit") + ", " + (sizeof(void*) == 8 ? "64" : "32") + "-bit runner" +
           (wow64 ? " under WOW64" : "");
}

std::string elevation_text(const TokenFacts& token) {
    switch (token.elevation_type) {
        case TokenElevationTypeFull: return "elevated (full token)";
        case TokenElevationTypeLimited: return "limited (filtered) token";
        default: return token.elevated ? "elevated (unfiltered token: UAC off or the built-in Administrator)"
                                       : "unfiltered standard token";
    }
}

std::string consent_text(std::optional<DWORD> value) {
    if (!value) return "ConsentPromptBehaviorAdmin not set";
    static const char* const meaning[] = {
        "elevate without prompting", "credentials on the secure desktop", "consent on the secure desktop",
        "credentials", "consent", "consent for programs not of Windows"};
    return "ConsentPromptBehaviorAdmin " + std::to_string(*value) + (*value < 6 ? std::string(": ") + meaning[*value] : "");
}

}  // namespace

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool elevated() {
    const auto own = token_facts(GetCurrentProcess());
    return own && own->elevated;
}

bool uac_on() { return policy(L"EnableLUA").value_or(1) != 0; }

bool on_input_desktop() {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) return false;
    const bool same = desktop_name(input) == desktop_name(GetThreadDesktop(GetCurrentThreadId()));
    CloseDesktop(input);
    return same;
}

bool virtualized(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    const ScopedHandle owned(token);
    DWORD enabled = 0, size = 0;
    return GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size) && enabled != 0;
}

std::optional<TokenFacts> token_facts(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
    const ScopedHandle owned(token);
    TokenFacts facts;
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, user, sizeof user, &size)) return std::nullopt;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    facts.user.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
    facts.user_name = account_of(sid);
    TOKEN_ELEVATION elevation = {};
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
        facts.elevated = elevation.TokenIsElevated != 0;
    }
    GetTokenInformation(token, TokenElevationType, &facts.elevation_type, sizeof facts.elevation_type, &size);
    DWORD allowed = 0;
    if (GetTokenInformation(token, TokenVirtualizationAllowed, &allowed, sizeof allowed, &size)) {
        facts.virtualization_allowed = allowed != 0;
    }
    return facts;
}

ShellFacts desktop_shell() {
    ShellFacts shell;
    const HWND window = GetShellWindow();
    if (window == nullptr) return shell;
    GetWindowThreadProcessId(window, &shell.process_id);
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell.process_id));
    if (process.valid()) shell.token = token_facts(process.get());
    return shell;
}

std::string standard_user_unavailable(bool uac, const TokenFacts& runner, const ShellFacts& shell) {
    if (!uac) return "UAC is off (EnableLUA 0): Windows virtualizes no process";
    if (!runner.elevated) return "the runner is not elevated: there is no administrator's token to step down from";
    if (shell.process_id == 0) return "no desktop shell (Explorer) runs on the runner's desktop";
    if (!shell.token) return "the desktop shell's token cannot be read";
    if (shell.token->user != runner.user) {
        return "the desktop shell runs as " + shell.token->user_name + ", the runner as " + runner.user_name +
               ": a program started through it would be another user's (start the kit from that user's own "
               "administrator prompt)";
    }
    if (shell.token->elevation_type != TokenElevationTypeLimited) {
        return "the desktop shell's token is not a filtered (limited) one (" + elevation_text(*shell.token) +
               "): a program started through it would not be a standard user's";
    }
    if (!shell.token->virtualization_allowed) {
        return "the desktop shell's token does not allow UAC virtualization (the policy \"Virtualize file and "
               "registry write failures to per-user locations\" is off)";
    }
    return {};
}

std::string system_report() {
    std::string line = version();
    if (const auto own = token_facts(GetCurrentProcess())) {
        line += "; runner " + elevation_text(*own) + " as " + own->user_name;
    }
    const auto lua = policy(L"EnableLUA");
    line += "; UAC " + std::string(lua.value_or(1) != 0 ? "on" : "off") + " (EnableLUA " +
            (lua ? std::to_string(*lua) : std::string("not set")) + ", " +
            consent_text(policy(L"ConsentPromptBehaviorAdmin")) + ")";
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    const std::string own_desktop = desktop_name(GetThreadDesktop(GetCurrentThreadId()));
    if (input == nullptr) {
        line += "; no input desktop to be read (the runner's is " + own_desktop + ")";
    } else {
        const std::string name = desktop_name(input);
        line += "; input desktop " + name + (name == own_desktop ? " (the runner's)" : " (not the runner's, " + own_desktop + ")");
        CloseDesktop(input);
    }
    const ShellFacts shell = desktop_shell();
    if (shell.process_id == 0) {
        line += "; no desktop shell";
    } else if (!shell.token) {
        line += "; desktop shell (process " + std::to_string(shell.process_id) + "), its token unreadable";
    } else {
        line += "; desktop shell as " + shell.token->user_name + ", " + elevation_text(*shell.token) +
                (shell.token->virtualization_allowed ? ", virtualization allowed" : ", virtualization not allowed");
    }
    return line;
}

}  // namespace kit
