// What the end-to-end test servers share: the call log, and IDispatch and class-factory plumbing.
//
// Every event is appended to the log as one line of JSON, an array whose first element names the
// event: ["create","Cifratore"], ["Decodifica","<in>","<out>","0x00000000"], ... The line is
// written and the file closed before the call returns, so that a process ended with ExitProcess
// (the program's way of ending) loses nothing. The log is the Windows path in the variable
// AGGIORNA_E2E_COM_LOG, or C:\aggiorna-e2e\com.log.
#pragma once

#include "platform/windows/com_interfaces.h"  // the Windows headers and the three interfaces

#include <cstdio>
#include <initializer_list>
#include <new>
#include <string>

namespace e2e {

inline std::wstring text_of(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

inline BSTR make_bstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

inline std::wstring hresult_text(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// A JSON string: printable ASCII as it stands, everything else (NUL padding, the encoded bytes,
// accented letters) as \uXXXX, so that the log stays ASCII and every character survives.
inline std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

// One element already in JSON (a number or an object) passes through raw.
struct Raw {
    std::string json;
};

struct Item {
    Item(const std::wstring& text) : json(e2e::json(text)) {}
    Item(const wchar_t* text) : json(e2e::json(text)) {}
    Item(Raw raw) : json(std::move(raw.json)) {}
    std::string json;
};

inline std::wstring log_path() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"AGGIORNA_E2E_COM_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"C:\\aggiorna-e2e\\com.log";
    return path;
}

inline void log_event(std::initializer_list<Item> items) {
    std::string line = "[";
    for (const Item& item : items) {
        if (line.size() > 1) line += ",";
        line += item.json;
    }
    line += "]\n";
    HANDLE file = CreateFileW(log_path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// An object of one interface derived from IDispatch. Creation and the last release are logged
// under the class name; the IDispatch methods are there only to hold their places.
template <typename Interface>
class Dispatch : public Interface {
public:
    Dispatch(const IID& iid, const wchar_t* name) : iid_(iid), name_(name) {
        log_event({L"create", name_});
    }
    virtual ~Dispatch() { log_event({L"release", name_}); }

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
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&references_);
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

protected:
    // A method the program must never call: logged, so that a call through a wrong place in the
    // table of methods shows up in the test.
    HRESULT unexpected(const wchar_t* method) {
        log_event({L"unexpected", name_, method});
        return E_NOTIMPL;
    }
    const wchar_t* name() const { return name_; }

private:
    IID iid_;
    const wchar_t* name_;
    LONG references_ = 1;
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
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&references_);
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
    LONG references_ = 1;
};

template <typename Object>
HRESULT hand_out(REFIID riid, void** out) {
    auto* factory = new (std::nothrow) Factory<Object>();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(riid, out);
    factory->Release();
    return result;
}

}  // namespace e2e
