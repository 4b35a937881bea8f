// The access check of a folder and a file with this run's own token (AccessCheck).
#include "platform/windows/redirection.h"

#include <algorithm>
#include <cstring>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"

namespace aggiorna::windows {
namespace {

GENERIC_MAPPING file_mapping() {
    return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

bool allows(PSECURITY_DESCRIPTOR descriptor, HANDLE token, DWORD wanted) {
    GENERIC_MAPPING mapping = file_mapping();
    MapGenericMask(&wanted, &mapping);
    BYTE privileges[sizeof(PRIVILEGE_SET) + 4 * sizeof(LUID_AND_ATTRIBUTES)] = {};
    DWORD privileges_size = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    return AccessCheck(descriptor, token, wanted, &mapping, reinterpret_cast<PPRIVILEGE_SET>(privileges),
                       &privileges_size, &granted, &status) &&
           status;
}

bool is_creator(PSID sid) {
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
    return authority != nullptr && std::memcmp(authority, &creator, sizeof creator) == 0;
}

// This run's token as an impersonation token, which AccessCheck asks for.
ScopedHandle own_token_for_checks() {
    HANDLE primary = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &primary)) return {};
    const ScopedHandle owned(primary);
    HANDLE duplicate = nullptr;
    if (!DuplicateToken(primary, SecurityIdentification, &duplicate)) return {};
    return ScopedHandle(duplicate);
}

PSECURITY_DESCRIPTOR read_descriptor(const std::wstring& path, ScopedLocal& owner) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(api_path(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return nullptr;
    }
    owner = ScopedLocal(descriptor);
    return descriptor;
}

}  // namespace

std::vector<BYTE> inherited_file_dacl(PACL folder_dacl) {
    ACL_SIZE_INFORMATION size = {};
    if (folder_dacl != nullptr) GetAclInformation(folder_dacl, &size, sizeof size, AclSizeInformation);
    std::vector<BYTE> acl(std::max<DWORD>(size.AclBytesInUse, sizeof(ACL)) + sizeof(ACL));
    InitializeAcl(reinterpret_cast<PACL>(acl.data()), static_cast<DWORD>(acl.size()), ACL_REVISION);
    GENERIC_MAPPING mapping = file_mapping();
    for (DWORD i = 0; i < size.AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(folder_dacl, i, reinterpret_cast<void**>(&ace)) || (ace->AceFlags & OBJECT_INHERIT_ACE) == 0) continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE && ace->AceType != ACCESS_DENIED_ACE_TYPE) continue;
        // Allowed and denied entries have the same layout.
        std::vector<BYTE> copy(reinterpret_cast<BYTE*>(ace), reinterpret_cast<BYTE*>(ace) + ace->AceSize);
        auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy.data());
        if (is_creator(&entry->SidStart)) continue;
        entry->Header.AceFlags = INHERITED_ACE;
        MapGenericMask(&entry->Mask, &mapping);
        AddAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, MAXDWORD, copy.data(), entry->Header.AceSize);
    }
    return acl;
}

bool token_may_write_in(PSECURITY_DESCRIPTOR folder, PSECURITY_DESCRIPTOR file, HANDLE token) {
    if (!allows(folder, token, FILE_ADD_FILE)) return false;
    if (allows(folder, token, FILE_DELETE_CHILD)) return true;
    // The replace deletes the old file through its own DELETE right.
    if (file != nullptr) return allows(file, token, DELETE);
    // No file yet: what one made there would take from the folder.
    BOOL present = FALSE, defaulted = FALSE;
    PACL folder_dacl = nullptr;
    if (!GetSecurityDescriptorDacl(folder, &present, &folder_dacl, &defaulted)) return false;
    if (!present || folder_dacl == nullptr) return true;  // a folder open to everyone
    std::vector<BYTE> dacl = inherited_file_dacl(folder_dacl);
    SECURITY_DESCRIPTOR made = {};
    PSID owner = nullptr, group = nullptr;
    InitializeSecurityDescriptor(&made, SECURITY_DESCRIPTOR_REVISION);
    GetSecurityDescriptorOwner(folder, &owner, &defaulted);
    GetSecurityDescriptorGroup(folder, &group, &defaulted);
    SetSecurityDescriptorOwner(&made, owner, FALSE);
    SetSecurityDescriptorGroup(&made, group, FALSE);
    SetSecurityDescriptorDacl(&made, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE);
    return allows(&made, token, DELETE | FILE_WRITE_DATA);
}

bool writes_would_be_redirected(const std::wstring& folder, const std::wstring& file) try {
    const ScopedHandle token = own_token_for_checks();
    if (!token.valid()) return true;
    ScopedLocal folder_owner;
    const PSECURITY_DESCRIPTOR folder_descriptor = read_descriptor(folder, folder_owner);
    if (folder_descriptor == nullptr) return true;
    ScopedLocal file_owner;
    const PSECURITY_DESCRIPTOR file_descriptor = file.empty() ? nullptr : read_descriptor(file, file_owner);
    return !token_may_write_in(folder_descriptor, file_descriptor, token.get());
} catch (...) {
    return true;
}

}  // namespace aggiorna::windows
