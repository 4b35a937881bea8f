// The program's entry point on Windows: hardened start, COM apartment, the update run.
#include "platform/platform.h"
#include "platform/windows/components.h"
#include "platform/windows/files.h"
#include "platform/windows/locale.h"
#include "platform/windows/message_boxes.h"
#include "platform/windows/process.h"
#include "platform/windows/registry.h"
#include "platform/windows/shell.h"
#include "platform/windows/win.h"
#include "update/aggiornamento.h"

namespace {

// DLLs loaded later (by COM, the shell, a component) come from System32 only, never from the
// download folder the program is usually started from. Looked up by name, because Windows
// before 8 (and 7 without KB2533623) lacks the call; there the program runs on without it.
void restrict_dll_search() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (set_default != nullptr) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    restrict_dll_search();
    const bool com_initialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    aggiorna::windows::WindowsProcess process(com_initialized);
    try {
        aggiorna::windows::WindowsRegistry registry;
        aggiorna::windows::WindowsMessageBoxes boxes;
        aggiorna::windows::WindowsFileSystem files;
        aggiorna::windows::WindowsShell shell;
        aggiorna::windows::WindowsLocale locale;
        aggiorna::windows::WindowsComponents components;
        aggiorna::Platform platform{registry, boxes, files, shell, locale, components, process};
        aggiorna::EseguiAggiornamento(platform);
    } catch (...) {
        // The run handles its own failures; anything escaping it still ends the process quietly.
    }
    process.end_process();
}
