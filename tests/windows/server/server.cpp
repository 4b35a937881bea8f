// An in-process COM server standing in for the outside components in the backend's tests.
//
// Its objects answer through the same tables of methods the program calls, and behave so that a
// test can see each argument arrive whole and each result come back: CompletaAggiornamento keeps
// the folder in the variable AGGIORNA_TEST_CARTELLA and fails for "fallisci"; ImpostaChiave keeps
// the key and hands back "<key>"; Decifra gives "key|text" and leaves "letto" in its argument;
// Decodifica gives "[length]text", and fails with 0x800A0005 for "errore".
#include <new>
#include <string>

#include "platform/windows/com_interfaces.h"

namespace {

using aggiorna::windows::ICifratore;
using aggiorna::windows::IComponenteAggiornamento;
using aggiorna::windows::IDecodificatore;

std::wstring text_of(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : L""; }
BSTR make(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

template <typename Interface>
class Dispatch : public Interface {
public:
    explicit Dispatch(const IID& iid) : iid_(iid) {}
    virtual ~Dispatch() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, iid_)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

private:
    IID iid_;
    ULONG references_ = 1;
};

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
        *chiave = make(L"<" + key_ + L">");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Riservato3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decifra(BSTR* testo, BSTR* risultato) override {
        if (key_.empty()) return E_UNEXPECTED;
        *risultato = make(key_ + L"|" + text_of(*testo));
        SysFreeString(*testo);
        *testo = make(L"letto");
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
        *risultato = make(L"[" + std::to_wstring(text.size()) + L"]" + text);
        return S_OK;
    }
};

template <typename Object>
class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) Object();
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = object->QueryInterface(riid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ULONG references_ = 1;
};

template <typename Object>
HRESULT hand_out(REFIID riid, void** out) {
    auto* factory = new (std::nothrow) Factory<Object>();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(riid, out);
    factory->Release();
    return result;
}

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
