// What a volume keeps of a file: the delete-on-close mark, DACLs, and the DACL handed to a new file.
#include "platform/windows/volume_security.h"

#include <algorithm>
#include <cwchar>

#include "platform/windows/paths.h"

namespace aggiorna::windows {

bool delete_mark_reliable(unsigned drive_type, std::wstring_view file_system) {
    switch (drive_type) {
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE:
        case DRIVE_CDROM:
        case DRIVE_RAMDISK:
            break;
        default:  // DRIVE_REMOTE, and a volume Windows cannot tell
            return false;
    }
    for (const std::wstring_view own : {L"NTFS", L"ReFS", L"FAT", L"FAT32", L"exFAT"}) {
        if (CompareStringOrdinal(file_system.data(), static_cast<int>(file_system.size()), own.data(),
                                 static_cast<int>(own.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

bool volume_keeps_delete_mark(const std::wstring& folder) {
    std::wstring root(MAX_PATH + 1, L'\0');
    if (!GetVolumePathNameW(api_path(folder).c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return false;
    }
    root.resize(std::wcslen(root.c_str()));
    wchar_t file_system[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, file_system,
                               MAX_PATH + 1)) {
        return false;
    }
    return delete_mark_reliable(GetDriveTypeW(root.c_str()), file_system);
}

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool volume_keeps_acls(HANDLE file) {
    DWORD flags = 0;
    return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0 && !running_under_wine();
}

DWORD set_file_dacl(HANDLE file, PACL dacl, bool protect) {
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (protect ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
}

std::vector<BYTE> own_dacl_entries(PACL dacl) {
    ACL_SIZE_INFORMATION size = {};
    GetAclInformation(dacl, &size, sizeof size, AclSizeInformation);
    std::vector<BYTE> own(std::max<DWORD>(size.AclBytesInUse, sizeof(ACL)));
    auto* acl = reinterpret_cast<PACL>(own.data());
    InitializeAcl(acl, static_cast<DWORD>(own.size()), dacl->AclRevision);
    for (DWORD i = 0; i < size.AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && (ace->AceFlags & INHERITED_ACE) == 0) {
            AddAce(acl, dacl->AclRevision, MAXDWORD, ace, ace->AceSize);
        }
    }
    return own;
}

}  // namespace aggiorna::windows
