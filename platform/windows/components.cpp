// The outside components over COM: creation, BSTR conversions and HRESULT failures.
#include "platform/windows/components.h"

#include <cstdio>

#include "platform/windows/com_interfaces.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/handles.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

constexpr int kInvalidArgument = 5;  // invalid procedure call or argument

std::string hresult_text(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

void check(HRESULT result, const char* method) {
    if (FAILED(result)) {
        throw Error(component_error_code(static_cast<std::uint32_t>(result)),
                    std::string(method) + " failed with HRESULT " + hresult_text(result));
    }
}

// Texts cross as BSTRs of the same length: embedded NULs (the padding of a settings field) stay.
Bstr to_bstr(std::string_view utf8) {
    const std::wstring wide = to_wide(utf8, kInvalidArgument);
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (text == nullptr) throw Error(7, "SysAllocStringLen: out of memory");
    return Bstr(text);
}

std::string from_bstr(BSTR text) {
    if (text == nullptr) return {};
    return to_utf8(std::wstring_view(text, SysStringLen(text)));
}

template <typename Interface>
ComPtr<Interface> create(const CLSID& clsid, const IID& iid, const char* name) {
    ComPtr<Interface> object;
    // The server may import private DLLs from its own folder, which the restricted search path
    // would not look in; later creations find the server already loaded.
    const DllFolder server_folder(registered_server_folder(clsid));
    const HRESULT result = CoCreateInstance(clsid, nullptr,
                                            CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, iid,
                                            object.put_void());
    if (FAILED(result) || !object) {
        throw Error(code::cannot_create_object, std::string("CoCreateInstance of ") + name +
                                                    " failed with HRESULT " +
                                                    hresult_text(result));
    }
    return object;
}

class ComComponenteAggiornamento final : public ComponenteAggiornamento {
public:
    explicit ComComponenteAggiornamento(ComPtr<IComponenteAggiornamento> object)
        : object_(std::move(object)) {}
    void CompletaAggiornamento(const std::string& cartella) override {
        const Bstr argument = to_bstr(cartella);
        check(object_->CompletaAggiornamento(argument.get()), "CompletaAggiornamento");
    }

private:
    ComPtr<IComponenteAggiornamento> object_;
};

class ComCifratore final : public Cifratore {
public:
    explicit ComCifratore(ComPtr<ICifratore> object) : object_(std::move(object)) {}
    // By reference: whatever the component leaves in the argument comes back to the caller.
    void ImpostaChiave(std::string& chiave) override {
        Bstr argument = to_bstr(chiave);
        check(object_->ImpostaChiave(argument.address()), "ImpostaChiave");
        chiave = from_bstr(argument.get());
    }
    std::string Decifra(std::string& testo) override {
        Bstr argument = to_bstr(testo);
        Bstr result;
        check(object_->Decifra(argument.address(), result.put()), "Decifra");
        testo = from_bstr(argument.get());
        return from_bstr(result.get());
    }

private:
    ComPtr<ICifratore> object_;
};

class ComDecodificatore final : public Decodificatore {
public:
    explicit ComDecodificatore(ComPtr<IDecodificatore> object) : object_(std::move(object)) {}
    std::string Decodifica(const std::string& testo) override {
        const Bstr argument = to_bstr(testo);
        Bstr result;
        check(object_->Decodifica(argument.get(), result.put()), "Decodifica");
        return from_bstr(result.get());
    }

private:
    ComPtr<IDecodificatore> object_;
};

}  // namespace

int component_error_code(std::uint32_t hresult) {
    constexpr std::uint32_t kRunTimeErrorBase = 0x800A0000u;  // severity error, facility 0xA
    if ((hresult & 0xFFFF0000u) == kRunTimeErrorBase && (hresult & 0xFFFFu) != 0) {
        return static_cast<int>(hresult & 0xFFFFu);
    }
    // HRESULT_FROM_WIN32 of ERROR_SHARING_VIOLATION (32) and ERROR_LOCK_VIOLATION (33).
    constexpr std::uint32_t kSharingViolation = 0x80070000u | ERROR_SHARING_VIOLATION;
    constexpr std::uint32_t kLockViolation = 0x80070000u | ERROR_LOCK_VIOLATION;
    if (hresult == kSharingViolation || hresult == kLockViolation) return code::path_file_access;
    if (hresult == static_cast<std::uint32_t>(E_ACCESSDENIED)) return code::permission_denied;
    return static_cast<int>(hresult);
}

std::unique_ptr<ComponenteAggiornamento> WindowsComponents::create_updater() {
    return std::make_unique<ComComponenteAggiornamento>(create<IComponenteAggiornamento>(
        kClsidComponenteAggiornamento, kIidComponenteAggiornamento, "ComponenteAggiornamento"));
}

std::unique_ptr<Cifratore> WindowsComponents::create_cifratore() {
    return std::make_unique<ComCifratore>(
        create<ICifratore>(kClsidCifratore, kIidCifratore, "Cifratore"));
}

std::unique_ptr<Decodificatore> WindowsComponents::create_decodificatore() {
    return std::make_unique<ComDecodificatore>(
        create<IDecodificatore>(kClsidDecodificatore, kIidDecodificatore, "Decodificatore"));
}

}  // namespace aggiorna::windows
