// A private DLL of the end-to-end update component, kept in the component's own folder (neither
// the program's folder nor System32) and imported by its server: it logs ["aiuto", folder].
#include "tests/kit/server_common.h"

extern "C" __declspec(dllexport) void e2e_aiuto(const wchar_t* folder) {
    e2e::log_event({L"aiuto", folder});
}
