// The DACL handed from a replaced file to the new one: the decision, and the read with GetSecurityInfo.
#include "platform/windows/dacl_handover.h"

#include "platform/windows/handles.h"
#include "platform/windows/volume_security.h"

namespace aggiorna::windows {

DWORD entry_count(const std::vector<BYTE>& acl) {
    return acl.size() >= sizeof(ACL) ? reinterpret_cast<const ACL*>(acl.data())->AceCount : 0;
}

DaclHandover decide_dacl_handover(const ReplacedDacl& replaced, bool first_virtual_copy) {
    DaclHandover handover;
    if (!replaced.read || !replaced.volume_keeps_acls || !replaced.present || first_virtual_copy) return handover;
    if (entry_count(replaced.own) == 0 && !replaced.protect) return handover;
    handover.hand_over = true;
    handover.acl = replaced.own;
    handover.protect = replaced.protect;
    return handover;
}

ReplacedDacl read_replaced_dacl(const std::wstring& path, const std::function<bool(HANDLE file)>& volume_keeps_acls) {
    ReplacedDacl replaced;
    const ScopedHandle old(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!old.valid()) return replaced;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(old.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return replaced;
    }
    const ScopedLocal owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    replaced.read = true;
    replaced.volume_keeps_acls = volume_keeps_acls(old.get());
    replaced.present = dacl != nullptr;
    if (dacl != nullptr) replaced.own = own_dacl_entries(dacl);
    replaced.protect = (control & SE_DACL_PROTECTED) != 0;
    return replaced;
}

}  // namespace aggiorna::windows
