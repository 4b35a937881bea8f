// The DACL of a file through GetNamedSecurityInfoW and SetEntriesInAclW, its entries walked one
// by one.
#include "dacl.h"

#include <algorithm>
#include <stdexcept>

#include "platform/windows/text.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

// Everyone may read and write the file itself.
constexpr DWORD kGranted = FILE_GENERIC_READ | FILE_GENERIC_WRITE;

std::vector<BYTE> well_known(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
    sid.resize(size);
    return sid;
}

// An entry of `access` for the well-known `sid`, inherited as `inheritance` says.
EXPLICIT_ACCESSW entry(std::vector<BYTE>& sid, DWORD access, DWORD inheritance) {
    EXPLICIT_ACCESSW e = {};
    e.grfAccessPermissions = access;
    e.grfAccessMode = GRANT_ACCESS;
    e.grfInheritance = inheritance;
    e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    e.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    e.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid.data());
    return e;
}

// Sets `entries` as the DACL of `path`, added to its own (`add`) or in its place, protected.
void set_entries(const std::wstring& path, std::vector<EXPLICIT_ACCESSW>& entries, bool add) {
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (add && GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                                     nullptr, &descriptor) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot read the DACL of " + to_utf8(path));
    }
    PACL made = nullptr;
    const DWORD status = SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), old, &made);
    LocalFree(descriptor);
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (add ? 0 : PROTECTED_DACL_SECURITY_INFORMATION);
    if (status != ERROR_SUCCESS ||
        SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, what, nullptr, nullptr, made,
                              nullptr) != ERROR_SUCCESS) {
        LocalFree(made);
        throw std::runtime_error("cannot set the DACL of " + to_utf8(path));
    }
    LocalFree(made);
}

}  // namespace

std::optional<std::vector<AceFacts>> dacl_entries(const std::wstring& file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<AceFacts> entries;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
        AceFacts ace{header->AceType, header->AceFlags, 0, {}};
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            // The two kinds share one layout: header, mask, SID.
            auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            ace.mask = allowed->Mask;
            const PSID sid = &allowed->SidStart;
            ace.sid.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
        }
        entries.push_back(std::move(ace));
    }
    LocalFree(descriptor);
    return entries;
}

void grant_everyone(const std::wstring& file) {
    std::vector<BYTE> everyone = well_known(WinWorldSid);
    std::vector<EXPLICIT_ACCESSW> entries = {entry(everyone, kGranted, NO_INHERITANCE)};
    set_entries(file, entries, true);
}

void grant_users_modify(const std::wstring& folder) {
    std::vector<BYTE> users = well_known(WinBuiltinUsersSid);
    constexpr DWORD kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    std::vector<EXPLICIT_ACCESSW> entries = {entry(users, kModify, SUB_CONTAINERS_AND_OBJECTS_INHERIT)};
    set_entries(folder, entries, true);
}

void let_users_only_read(const std::wstring& file) {
    std::vector<BYTE> system = well_known(WinLocalSystemSid);
    std::vector<BYTE> administrators = well_known(WinBuiltinAdministratorsSid);
    std::vector<BYTE> users = well_known(WinBuiltinUsersSid);
    std::vector<EXPLICIT_ACCESSW> entries = {entry(system, FILE_ALL_ACCESS, NO_INHERITANCE),
                                             entry(administrators, FILE_ALL_ACCESS, NO_INHERITANCE),
                                             entry(users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, NO_INHERITANCE)};
    set_entries(file, entries, false);
}

bool grants_everyone(const std::vector<AceFacts>& entries) {
    const std::vector<BYTE> everyone = well_known(WinWorldSid);
    return std::any_of(entries.begin(), entries.end(), [&](const AceFacts& ace) {
        return ace.type == ACCESS_ALLOWED_ACE_TYPE && (ace.flags & INHERITED_ACE) == 0 && ace.sid == everyone &&
               (ace.mask & kGranted) == kGranted;
    });
}

std::vector<AceFacts> inherited(const std::vector<AceFacts>& entries) {
    std::vector<AceFacts> found;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(found),
                 [](const AceFacts& ace) { return (ace.flags & INHERITED_ACE) != 0; });
    return found;
}

bool users_can_read(const std::vector<AceFacts>& entries) {
    const std::vector<BYTE> users = well_known(WinBuiltinUsersSid);
    const std::vector<BYTE> authenticated = well_known(WinAuthenticatedUserSid);
    const auto theirs = [&](const AceFacts& ace) {
        return (ace.sid == users || ace.sid == authenticated) && (ace.flags & INHERIT_ONLY_ACE) == 0;
    };
    // GENERIC_READ does not appear in a file's own entries once Windows has mapped them.
    const auto reads = [](const AceFacts& ace) { return (ace.mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0; };
    const bool denied = std::any_of(entries.begin(), entries.end(), [&](const AceFacts& ace) {
        return ace.type == ACCESS_DENIED_ACE_TYPE && theirs(ace) && reads(ace);
    });
    const bool allowed = std::any_of(entries.begin(), entries.end(), [&](const AceFacts& ace) {
        return ace.type == ACCESS_ALLOWED_ACE_TYPE && theirs(ace) && reads(ace);
    });
    return allowed && !denied;
}

}  // namespace kit
