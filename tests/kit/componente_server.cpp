// The end-to-end stand-in for the outside update component, ComponenteAggiornamento, as a DLL.
//
// CompletaAggiornamento logs the folder it receives and what the run has placed there by then
// ("Estr.bi_" and "bl.bin": their sizes, -1 for a missing file), shows nothing and returns the
// status in AGGIORNA_E2E_COMPLETA_HRESULT or the kit's setting "CompletaHresult" (hexadecimal),
// S_OK when neither is set. With the setting "TieneArchivio" at 1 it keeps the folder's "Estr.bin"
// open without sharing until the object is released, as a component may: the run must let it go
// before it reads that archive again.
//
// Built with E2E_AIUTO, it is a component whose server imports a private DLL kept in its own
// folder (aiuto.cpp), as components built with the host's tools do: CompletaAggiornamento then
// also hands the folder to that DLL, which logs it.
#include <cwchar>

#include "tests/kit/server_common.h"

#ifdef E2E_AIUTO
extern "C" __declspec(dllimport) void e2e_aiuto(const wchar_t* folder);
#endif

namespace {

using aggiorna::windows::IComponenteAggiornamento;

long long size_of(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

HRESULT status_asked() {
    const std::wstring text = e2e::setting(L"AGGIORNA_E2E_COMPLETA_HRESULT", L"CompletaHresult");
    if (text.empty()) return S_OK;
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 16));
}

class Componente final : public e2e::Dispatch<IComponenteAggiornamento> {
public:
    Componente()
        : Dispatch(aggiorna::windows::kIidComponenteAggiornamento, L"ComponenteAggiornamento") {}
    ~Componente() override {
        if (archive_ != INVALID_HANDLE_VALUE) CloseHandle(archive_);
    }
    HRESULT STDMETHODCALLTYPE CompletaAggiornamento(BSTR cartella) override {
        const std::wstring folder = e2e::text_of(cartella);
        if (e2e::setting(L"AGGIORNA_E2E_TIENE_ARCHIVIO", L"TieneArchivio") == L"1" && archive_ == INVALID_HANDLE_VALUE) {
            archive_ = CreateFileW((folder + L"\\Estr.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        // Joined as the run joins: plainly, whatever the folder ends with.
        const std::string files = "{\"Estr.bi_\":" + std::to_string(size_of(folder + L"\\Estr.bi_")) +
                                  ",\"bl.bin\":" + std::to_string(size_of(folder + L"\\bl.bin")) + "}";
        const HRESULT result = status_asked();
        e2e::log_event({L"CompletaAggiornamento", folder, e2e::Raw{files},
                        e2e::hresult_text(result)});
#ifdef E2E_AIUTO
        e2e_aiuto(folder.c_str());
#endif
        return result;
    }

private:
    HANDLE archive_ = INVALID_HANDLE_VALUE;
};

}  // namespace

#ifdef E2E_AIUTO
constexpr const wchar_t* kNomeDll = L"e2e_componente_aiuto";
#else
constexpr const wchar_t* kNomeDll = L"e2e_componente";
#endif

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidComponenteAggiornamento)) {
        return e2e::hand_out<Componente>(riid, out);
    }
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded for the life of the process: the log must see every release.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return e2e::can_unload_now(kNomeDll); }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    e2e::note_detach(kNomeDll, reason, reserved);
    return TRUE;
}
