// A component whose server imports a private DLL (helper.cpp) from its own folder, as outside
// components built with the host's tools do. CompletaAggiornamento goes through that DLL.
//
// While its class object is handed out, the server also looks for "aggiorna_test_sonda.dll", a
// DLL of its folder that nothing imports, through the folders added to the process search path
// alone: AGGIORNA_TEST_SONDA is "1" when it was found there, "0" when not.
#include <string>

#include "tests/windows/server/com_server.h"

extern "C" __declspec(dllimport) void aggiorna_test_aiuto(const wchar_t* folder);

namespace {

class Componente final : public test_com::Dispatch<aggiorna::windows::IComponenteAggiornamento> {
public:
    Componente() : Dispatch(aggiorna::windows::kIidComponenteAggiornamento) {}
    HRESULT STDMETHODCALLTYPE CompletaAggiornamento(BSTR cartella) override {
        aggiorna_test_aiuto(test_com::text_of(cartella).c_str());
        return S_OK;
    }
};

void probe_added_folders() {
    HMODULE probe =
        LoadLibraryExW(L"aggiorna_test_sonda.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    SetEnvironmentVariableW(L"AGGIORNA_TEST_SONDA", probe != nullptr ? L"1" : L"0");
    if (probe != nullptr) FreeLibrary(probe);
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    probe_added_folders();
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidComponenteAggiornamento)) {
        return test_com::hand_out<Componente>(riid, out);
    }
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded for the life of the test process.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
