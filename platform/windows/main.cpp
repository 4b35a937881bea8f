// The program's entry point on Windows: hardened start, COM apartment, the update run.
#include "platform/platform.h"
#include "platform/windows/components.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/files.h"
#include "platform/windows/locale.h"
#include "platform/windows/message_boxes.h"
#include "platform/windows/process.h"
#include "platform/windows/registry.h"
#include "platform/windows/run_log.h"
#include "platform/windows/shell.h"
#include "platform/windows/win.h"
#include "update/aggiornamento.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    aggiorna::windows::restrict_dll_search();
    const bool com_initialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    aggiorna::windows::WindowsProcess process;
    try {
        aggiorna::windows::WindowsRegistry registry;
        aggiorna::windows::WindowsMessageBoxes boxes;
        aggiorna::windows::WindowsFileSystem files;
        aggiorna::windows::WindowsShell shell;
        aggiorna::windows::WindowsLocale locale;
        aggiorna::windows::WindowsComponents components;
        aggiorna::windows::FileRunLog log;
        aggiorna::Platform platform{registry, boxes, files, shell, locale, components, process, log};
        aggiorna::EseguiAggiornamento(platform);
    } catch (...) {
        // The run handles its own failures; anything escaping it still ends the process quietly.
    }
    // The run ends the process itself (WindowsProcess, apartment left open). Only an exception
    // escaping it comes here, after unwinding has released every component object.
    if (com_initialized) CoUninitialize();
    ExitProcess(0);
}
