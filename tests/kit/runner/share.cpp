// Shares through netapi32 (NetShareAdd level 502, NetShareGetInfo, NetShareDel), with a share
// security descriptor written in SDDL.
#include "share.h"

#include <lm.h>
#include <sddl.h>

namespace kit {
namespace {

// Change, as the share's permission dialog grants it: FILE_GENERIC_READ | FILE_GENERIC_WRITE |
// FILE_GENERIC_EXECUTE | DELETE; Full Control would add WRITE_DAC, WRITE_OWNER and
// FILE_DELETE_CHILD.
const wchar_t* const kEveryoneChange = L"D:(A;;0x1301BF;;;WD)";

}  // namespace

bool share_exists(const std::wstring& name) {
    BYTE* info = nullptr;
    const NET_API_STATUS status = NetShareGetInfo(nullptr, const_cast<LMSTR>(name.c_str()), 0, &info);
    if (info != nullptr) NetApiBufferFree(info);
    return status == NERR_Success;
}

DWORD make_share(const std::wstring& name, const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneChange, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    SHARE_INFO_502 share = {};
    share.shi502_netname = const_cast<LMSTR>(name.c_str());
    share.shi502_type = STYPE_DISKTREE;
    share.shi502_remark = const_cast<LMSTR>(L"Aggiorna Archivio: test kit");
    share.shi502_max_uses = static_cast<DWORD>(-1);
    share.shi502_path = const_cast<LMSTR>(folder.c_str());
    share.shi502_security_descriptor = descriptor;
    DWORD wrong = 0;
    const NET_API_STATUS status = NetShareAdd(nullptr, 502, reinterpret_cast<BYTE*>(&share), &wrong);
    LocalFree(descriptor);
    return status;
}

bool remove_share(const std::wstring& name) {
    if (!share_exists(name)) return true;
    NetShareDel(nullptr, const_cast<LMSTR>(name.c_str()), 0);
    return !share_exists(name);
}

}  // namespace kit
