// An in-process COM server standing in for the outside components in the backend's tests.
//
// Its objects answer through the same tables of methods the program calls, and behave so that a
// test can see each argument arrive whole and each result come back: CompletaAggiornamento keeps
// the folder in the variable AGGIORNA_TEST_CARTELLA and fails for "fallisci"; ImpostaChiave keeps
// the key and hands back "<key>"; Decifra gives "key|text" and leaves "letto" in its argument;
// Decodifica gives "[length]text", and fails with 0x800A0005 for "errore".
#include <string>

#include "tests/windows/server/com_server.h"

namespace {

using aggiorna::windows::ICifratore;
using aggiorna::windows::IComponenteAggiornamento;
using aggiorna::windows::IDecodificatore;

using test_com::Dispatch;
using test_com::hand_out;
using test_com::make_bstr;
using test_com::text_of;

class Componente final : public Dispatch<IComponenteAggiornamento> {
public:
    Componente() : Dispatch(aggiorna::windows::kIidComponenteAggiornamento) {}
    HRESULT STDMETHODCALLTYPE CompletaAggiornamento(BSTR cartella) override {
        const std::wstring folder = text_of(cartella);
        if (folder == L"fallisci") return E_FAIL;
        SetEnvironmentVariableW(L"AGGIORNA_TEST_CARTELLA", folder.c_str());
        return S_OK;
    }
};

class Cifratore final : public Dispatch<ICifratore> {
public:
    Cifratore() : Dispatch(aggiorna::windows::kIidCifratore) {}
    HRESULT STDMETHODCALLTYPE Riservato1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ImpostaChiave(BSTR* chiave) override {
        key_ = text_of(*chiave);
        SysFreeString(*chiave);
        *chiave = make_bstr(L"<" + key_ + L">");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Riservato3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decifra(BSTR* testo, BSTR* risultato) override {
        if (key_.empty()) return E_UNEXPECTED;
        *risultato = make_bstr(key_ + L"|" + text_of(*testo));
        SysFreeString(*testo);
        *testo = make_bstr(L"letto");
        return S_OK;
    }

private:
    std::wstring key_;
};

class Decodificatore final : public Dispatch<IDecodificatore> {
public:
    Decodificatore() : Dispatch(aggiorna::windows::kIidDecodificatore) {}
    HRESULT STDMETHODCALLTYPE Riservato1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decodifica(BSTR testo, BSTR* risultato) override {
        const std::wstring text = text_of(testo);
        if (text == L"errore") return static_cast<HRESULT>(0x800A0005);
        *risultato = make_bstr(L"[" + std::to_wstring(text.size()) + L"]" + text);
        return S_OK;
    }
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidComponenteAggiornamento)) {
        return hand_out<Componente>(riid, out);
    }
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidCifratore)) {
        return hand_out<Cifratore>(riid, out);
    }
    if (IsEqualCLSID(clsid, aggiorna::windows::kClsidDecodificatore)) {
        return hand_out<Decodificatore>(riid, out);
    }
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded for the life of the test process.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
