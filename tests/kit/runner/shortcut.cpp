// The shell's link object (IShellLinkW, IShellLinkDataList, IPersistFile) written to a file.
#include "shortcut.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <stdexcept>

#include "platform/windows/handles.h"
#include "platform/windows/text.h"

namespace kit {

using aggiorna::windows::ComPtr;

void make_run_as_administrator_shortcut(const std::wstring& link, const std::wstring& target) {
    const auto failed = [&](const char* step, HRESULT result) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
        return std::runtime_error(std::string("the shortcut ") + aggiorna::windows::to_utf8(link) + " cannot be made: " +
                                  step + " failed with " + code);
    };
    ComPtr<IShellLinkW> shell_link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      shell_link.put_void());
    if (FAILED(result)) throw failed("CoCreateInstance(CLSID_ShellLink)", result);
    if (FAILED(result = shell_link->SetPath(target.c_str()))) throw failed("IShellLinkW::SetPath", result);
    ComPtr<IShellLinkDataList> data;
    DWORD flags = 0;
    if (FAILED(result = shell_link->QueryInterface(IID_IShellLinkDataList, data.put_void()))) {
        throw failed("IShellLinkDataList", result);
    }
    if (FAILED(result = data->GetFlags(&flags))) throw failed("IShellLinkDataList::GetFlags", result);
    if (FAILED(result = data->SetFlags(flags | SLDF_RUNAS_USER))) throw failed("IShellLinkDataList::SetFlags", result);
    ComPtr<IPersistFile> file;
    if (FAILED(result = shell_link->QueryInterface(IID_IPersistFile, file.put_void()))) throw failed("IPersistFile", result);
    if (FAILED(result = file->Save(link.c_str(), TRUE))) throw failed("IPersistFile::Save", result);
}

}  // namespace kit
