// CreateProcessW for the runner's own starts; the desktop shell's ShellExecute for a standard user's.
#include "launch.h"

#include <exdisp.h>
#include <shldisp.h>
#include <tlhelp32.h>

#include <set>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "processes.h"

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
ComPtr<IShellDispatch2> shell_dispatch() {
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

Started start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!create_in_job(exe, command, folder, startup, false, info)) return {};
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

Started start_as_desktop_user(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    const auto runner = token_facts(GetCurrentProcess());
    if (!runner) throw NotRun{"the runner's own token cannot be read"};
    const ShellFacts facts = desktop_shell();
    if (const std::string why = standard_user_unavailable(uac_on(), *runner, facts); !why.empty()) throw NotRun{why};
    const ComPtr<IShellDispatch2> shell = shell_dispatch();
    if (!shell) throw NotRun{"the desktop shell (Explorer) offers no automation object to start a program with"};
    // The program is the shell's child: the shell may give it the foreground only if it may take it.
    AllowSetForegroundWindow(facts.process_id);
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
            // Waited on, its exit status read (GetExitCodeProcess asks for the query right), ended
            // with the kit's others.
            const HANDLE process = OpenProcess(
                SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | PROCESS_SET_QUOTA, FALSE, id);
            if (process != nullptr) {
                adopt(process);
                return {process, id};
            }
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
