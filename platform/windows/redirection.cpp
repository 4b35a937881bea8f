// The access check of a folder with this run's own token (AccessCheck, CreatePrivateObjectSecurityEx).
#include "platform/windows/redirection.h"

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

// A private security descriptor from CreatePrivateObjectSecurityEx, destroyed with its owner.
class PrivateDescriptor {
public:
    PrivateDescriptor() = default;
    ~PrivateDescriptor() {
        if (descriptor_ != nullptr) DestroyPrivateObjectSecurity(&descriptor_);
    }
    PrivateDescriptor(const PrivateDescriptor&) = delete;
    PrivateDescriptor& operator=(const PrivateDescriptor&) = delete;
    PSECURITY_DESCRIPTOR* put() { return &descriptor_; }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// This run's token as an impersonation token, which AccessCheck asks for.
ScopedHandle own_token_for_checks() {
    HANDLE primary = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &primary)) return {};
    const ScopedHandle owned(primary);
    HANDLE duplicate = nullptr;
    if (!DuplicateToken(primary, SecurityIdentification, &duplicate)) return {};
    return ScopedHandle(duplicate);
}

}  // namespace

bool token_may_write_in(PSECURITY_DESCRIPTOR folder, HANDLE token) {
    if (!allows(folder, token, FILE_ADD_FILE)) return false;
    if (allows(folder, token, FILE_DELETE_CHILD)) return true;
    // What a file made in the folder takes from it (its inheritable entries), checked as that
    // file's own descriptor.
    GENERIC_MAPPING mapping = file_mapping();
    PrivateDescriptor file;
    if (!CreatePrivateObjectSecurityEx(folder, nullptr, file.put(), nullptr, FALSE,
                                       SEF_DACL_AUTO_INHERIT | SEF_AVOID_OWNER_CHECK | SEF_AVOID_PRIVILEGE_CHECK,
                                       token, &mapping)) {
        return false;
    }
    return allows(file.get(), token, DELETE | FILE_WRITE_DATA);
}

bool writes_would_be_redirected(const std::wstring& folder) try {
    const ScopedHandle token = own_token_for_checks();
    if (!token.valid()) return true;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(api_path(folder).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return true;
    }
    const ScopedLocal owned(descriptor);
    return !token_may_write_in(descriptor, token.get());
} catch (...) {
    return true;
}

}  // namespace aggiorna::windows
