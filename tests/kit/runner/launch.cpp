// CreateProcessW for the runner's own starts; the desktop shell's ShellExecute for a standard user's.
#include "launch.h"

#include <exdisp.h>
#include <shldisp.h>
#include <tlhelp32.h>

#include <set>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"

namespace kit {
namespace {

using aggiorna::windows::ComPtr;
using aggiorna::windows::ScopedHandle;

std::wstring full_image(DWORD id) {
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process.valid()) return {};
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    return QueryFullProcessImageNameW(process.get(), 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

// The processes now running the program file `exe`.
std::set<DWORD> running(const std::wstring& exe) {
    std::set<DWORD> ids;
    const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const std::wstring image = full_image(entry.th32ProcessID);
        if (!image.empty() && CompareStringOrdinal(image.c_str(), -1, exe.c_str(), -1, TRUE) == CSTR_EQUAL) {
            ids.insert(entry.th32ProcessID);
        }
    }
    return ids;
}

// The desktop shell's automation object, as Explorer hands it to the desktop's view.
ComPtr<IShellDispatch2> desktop_shell() {
    ComPtr<IShellDispatch2> shell;
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void()))) {
        return shell;
    }
    VARIANT location;
    VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT empty;
    VariantInit(&empty);
    long window = 0;
    ComPtr<IDispatch> dispatch;
    if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              reinterpret_cast<IDispatch**>(dispatch.put_void())) != S_OK ||
        !dispatch) {
        return shell;
    }
    ComPtr<IServiceProvider> provider;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folder_view;
    ComPtr<IDispatch> application;
    if (FAILED(dispatch->QueryInterface(IID_IServiceProvider, provider.put_void())) ||
        FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.put_void()))) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folder_view.put_void())) ||
        FAILED(folder_view->get_Application(reinterpret_cast<IDispatch**>(application.put_void()))) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
        shell.reset();
    }
    return shell;
}

LRESULT CALLBACK front_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

}  // namespace

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const ScopedHandle owned(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

bool uac_on() {
    DWORD value = 1, size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"EnableLUA",
                 RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value != 0;
}

bool on_input_desktop() {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) return false;
    wchar_t input_name[256] = {}, own_name[256] = {};
    GetUserObjectInformationW(input, UOI_NAME, input_name, sizeof input_name, nullptr);
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, own_name, sizeof own_name, nullptr);
    CloseDesktop(input);
    return std::wstring(input_name) == own_name;
}

bool virtualized(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    const ScopedHandle owned(token);
    DWORD enabled = 0, size = 0;
    return GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size) && enabled != 0;
}

Started start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &info)) {
        return {};
    }
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

Started start_as_desktop_user(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    if (!uac_on()) throw NotRun{"UAC is off on this system: no process is virtualized (as on hosted CI machines)"};
    if (!elevated()) throw NotRun{"the runner is not elevated: there is no administrator's token to step down from"};
    const ComPtr<IShellDispatch2> shell = desktop_shell();
    if (!shell) throw NotRun{"no desktop shell (Explorer) to start the program as the desktop's user"};
    const std::set<DWORD> before = running(exe);
    VARIANT args, dir, operation, show;
    VariantInit(&args);
    VariantInit(&dir);
    VariantInit(&operation);
    VariantInit(&show);
    args.vt = dir.vt = VT_BSTR;
    args.bstrVal = SysAllocString(arguments.c_str());
    dir.bstrVal = SysAllocString(folder.c_str());
    BSTR file = SysAllocString(exe.c_str());
    const HRESULT started = shell->ShellExecute(file, args, dir, operation, show);
    SysFreeString(file);
    VariantClear(&args);
    VariantClear(&dir);
    if (FAILED(started)) return {};
    // The shell starts it as its own child: found by its program file among the new processes.
    for (int i = 0; i < 200; ++i) {
        for (const DWORD id : running(exe)) {
            if (before.count(id) != 0) continue;
            const HANDLE process =
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
            if (process != nullptr) return {process, id};
        }
        Sleep(50);
    }
    return {};
}

WindowInFront::WindowInFront() {
    WNDCLASSW type = {};
    type.lpfnWndProc = front_window_procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"AggiornaKitInFront";
    type.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&type);
    window_ = CreateWindowExW(0, type.lpszClassName, L"Finestra davanti", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              0, 0, 640, 480, nullptr, nullptr, type.hInstance, nullptr);
    if (window_ == nullptr) return;
    SetForegroundWindow(window_);
    // Its messages handled for a moment, so that it is really shown in front.
    for (int i = 0; i < 20; ++i) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(10);
    }
}

WindowInFront::~WindowInFront() {
    if (window_ != nullptr) DestroyWindow(window_);
}

bool WindowInFront::in_front() const { return window_ != nullptr && GetForegroundWindow() == window_; }

}  // namespace kit
