// A private DLL of a component, kept in the component's own folder and imported by its server
// (own_folder_server.cpp): it marks the folder it receives with "aiuto:".
#include <string>

#include "platform/windows/win.h"

extern "C" __declspec(dllexport) void aggiorna_test_aiuto(const wchar_t* folder) {
    SetEnvironmentVariableW(L"AGGIORNA_TEST_CARTELLA", (std::wstring(L"aiuto:") + folder).c_str());
}
