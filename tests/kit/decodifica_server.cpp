// The end-to-end stand-in for the outside decoding component, Cifratore and Decodificatore, as a DLL.
//
// It decodes with the program's own stand-in scheme (the one scrivi_dati_lib encodes with), so a
// "Dati.lib" written by that tool comes back as plain text only when the program hands over the
// right key and every text whole. Texts cross as UTF-16 and are taken as Windows-1252 characters,
// as the program converts the file's bytes; a character outside that code page fails with
// E_INVALIDARG, Decifra before ImpostaChiave with E_UNEXPECTED. Every call is logged with its
// arguments and results; ImpostaChiave leaves its by-reference argument as it came.
#include <optional>

#include "platform/portable/cp1252.h"
#include "platform/portable/decodifica_sostitutiva.h"
#include "tests/kit/server_common.h"

namespace {

using aggiorna::windows::ICifratore;
using aggiorna::windows::IDecodificatore;
namespace scheme = aggiorna::portable;

std::optional<std::string> to_bytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        const auto byte = scheme::code_point_to_cp1252(static_cast<char32_t>(c));
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<char>(*byte));
    }
    return bytes;
}

std::wstring from_bytes(const std::string& bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char b : bytes) {
        text.push_back(static_cast<wchar_t>(scheme::cp1252_to_code_point(static_cast<std::uint8_t>(b))));
    }
    return text;
}

class Cifratore final : public e2e::Dispatch<ICifratore> {
public:
    Cifratore() : Dispatch(aggiorna::windows::kIidCifratore, L"Cifratore") {}
    HRESULT STDMETHODCALLTYPE Riservato1() override { return unexpected(L"method 1"); }
    HRESULT STDMETHODCALLTYPE ImpostaChiave(BSTR* chiave) override {
        if (chiave == nullptr) return E_POINTER;
        const std::wstring key = e2e::text_of(*chiave);
        const auto bytes = to_bytes(key);
        const HRESULT result = bytes ? S_OK : E_INVALIDARG;
        if (bytes) {
            key_ = *bytes;
            key_set_ = true;
        }
        e2e::log_event({L"ImpostaChiave", key, e2e::text_of(*chiave), e2e::hresult_text(result)});
        return result;
    }
    HRESULT STDMETHODCALLTYPE Riservato3() override { return unexpected(L"method 3"); }
    HRESULT STDMETHODCALLTYPE Decifra(BSTR* testo, BSTR* risultato) override {
        if (testo == nullptr || risultato == nullptr) return E_POINTER;
        const std::wstring text = e2e::text_of(*testo);
        std::wstring plain;
        HRESULT result = S_OK;
        if (!key_set_) {
            result = E_UNEXPECTED;
        } else if (const auto bytes = to_bytes(text)) {
            plain = from_bytes(scheme::DecifraSostitutiva(*bytes, key_));
            *risultato = e2e::make_bstr(plain);
        } else {
            result = E_INVALIDARG;
        }
        e2e::log_event({L"Decifra", text, plain, e2e::hresult_text(result)});
        return result;
    }

private:
    std::string key_;
    bool key_set_ = false;
};

class Decodificatore final : public e2e::Dispatch<IDecodificatore> {
public:
    Decodificatore() : Dispatch(aggiorna::windows::kIidDecodificatore, L"Decodificatore") {}
    HRESULT STDMETHODCALLTYPE Riservato1() override { return unexpected(L"method 1"); }
    HRESULT STDMETHODCALLTYPE Decodifica(BSTR testo, BSTR* risultato) override {
        if (risultato == nullptr) return E_POINTER;
        const std::wstring text = e2e::text_of(testo);
        std::wstring decoded;
        HRESULT result = S_OK;
        if (const auto bytes = to_bytes(text)) {
            decoded = from_bytes(scheme::DecodificaSostitutiva(*bytes));
            *risultato = e2e::make_bstr(decoded);
        } else {
            result = E_INVALIDARG;
        }
        e2e::log_event({L"Decodifica", text, decoded, e2e::hresult_text(result)});
        return result;
    }
};

}  // namespace

constexpr const wchar_t* kNomeDll = L"e2e_decodifica";

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidCifratore)) {
        return e2e::hand_out<Cifratore>(riid, out);
    }
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidDecodificatore)) {
        return e2e::hand_out<Decodificatore>(riid, out);
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
