// What the end-to-end test servers share: the call log, and IDispatch and class-factory plumbing.
//
// Every event is appended to the log as one line of JSON, an array whose first element names the
// event: ["create","Cifratore"], ["Decodifica","<in>","<out>","0x00000000"], ... The line is
// written and the file closed before the call returns, so that a process ended with ExitProcess
// (the program's way of ending) loses nothing. The log is the Windows path in the variable
// AGGIORNA_E2E_COM_LOG, else in the value "ComLog" of HKEY_LOCAL_MACHINE\Software\AggiornaKit
// (this process's registry view), which the kit's runner sets for each scenario: a program that the
// runner starts through the desktop's shell does not inherit the runner's environment.
#pragma once

#include "tests/windows/server/com_server.h"

#include <cstdio>
#include <initializer_list>
#include <string>

namespace e2e {

using test_com::hand_out;
using test_com::make_bstr;
using test_com::text_of;

inline std::wstring hresult_text(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// A JSON string: printable ASCII as it stands, everything else (NUL padding, the encoded bytes,
// accented letters) as \uXXXX, so that the log stays ASCII and every character survives.
inline std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

// One element already in JSON (a number or an object) passes through raw.
struct Raw {
    std::string json;
};

struct Item {
    Item(const std::wstring& text) : json(e2e::json(text)) {}
    Item(const wchar_t* text) : json(e2e::json(text)) {}
    Item(Raw raw) : json(std::move(raw.json)) {}
    std::string json;
};

// A setting of the scenario: the environment variable `variable`, else the value `value` of
// HKEY_LOCAL_MACHINE\Software\AggiornaKit; empty when neither is set.
inline std::wstring setting(const wchar_t* variable, const wchar_t* value) {
    wchar_t text[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(variable, text, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return text;
    length = sizeof text;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\AggiornaKit", value, RRF_RT_REG_SZ, nullptr, text, &length) ==
        ERROR_SUCCESS) {
        return text;
    }
    return {};
}

inline std::wstring log_path() {
    const std::wstring path = setting(L"AGGIORNA_E2E_COM_LOG", L"ComLog");
    return path.empty() ? L"C:\\aggiorna-e2e\\com.log" : path;
}

inline void log_event(std::initializer_list<Item> items) {
    std::string line = "[";
    for (const Item& item : items) {
        if (line.size() > 1) line += ",";
        line += item.json;
    }
    line += "]\n";
    HANDLE file = CreateFileW(log_path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// DllCanUnloadNow, asked by COM when the apartment closes (CoUninitialize), and an unload while
// the process goes on (FreeLibrary; at ExitProcess DllMain is told the process is ending) are
// logged under the DLL's name. The program ends with ExitProcess alone, its apartment open, so
// neither may show in a log. The DLL answers that it stays loaded.
inline HRESULT can_unload_now(const wchar_t* dll) {
    log_event({L"DllCanUnloadNow", dll});
    return S_FALSE;
}

inline void note_detach(const wchar_t* dll, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) log_event({L"unload", dll});
}

// An object of one interface derived from IDispatch whose creation and last release are logged
// under the class name.
template <typename Interface>
class Dispatch : public test_com::Dispatch<Interface> {
public:
    Dispatch(const IID& iid, const wchar_t* name) : test_com::Dispatch<Interface>(iid), name_(name) {
        log_event({L"create", name_});
    }
    ~Dispatch() override { log_event({L"release", name_}); }

protected:
    // A method the program must never call: logged, so that a call through a wrong place in the
    // table of methods shows up in the test.
    HRESULT unexpected(const wchar_t* method) {
        log_event({L"unexpected", name_, method});
        return E_NOTIMPL;
    }
    const wchar_t* name() const { return name_; }

private:
    const wchar_t* name_;
};

}  // namespace e2e
