// The steps of the scenarios that only Windows can run: a DACL set on the host's archive and
// checked after the run, the holder's name asked of the Restart Manager, a virtual copy written by
// a virtualized process, the administrative share.
#include <stdexcept>

#include "launch.h"
#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/restart_manager.h"
#include "platform/windows/text.h"
#include "scenarios.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

// Everyone (S-1-1-0) may read and write the file itself, as installers of old programs grant it.
constexpr DWORD kGranted = FILE_GENERIC_READ | FILE_GENERIC_WRITE;

PSID everyone() {
    static SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    static PSID sid = nullptr;
    if (sid == nullptr) AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid);
    return sid;
}

void grant_everyone(const std::wstring& file) {
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot read the DACL of " + to_utf8(file));
    }
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = kGranted;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone());
    PACL added = nullptr;
    const DWORD made = SetEntriesInAclW(1, &access, old, &added);
    LocalFree(descriptor);
    if (made != ERROR_SUCCESS ||
        SetNamedSecurityInfoW(const_cast<LPWSTR>(file.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, added, nullptr) != ERROR_SUCCESS) {
        LocalFree(added);
        throw std::runtime_error("cannot grant Everyone access to " + to_utf8(file));
    }
    LocalFree(added);
}

// Whether the file's DACL holds, as its own entry (not one the folder passes on), Everyone's grant.
bool grants_everyone(const std::wstring& file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !found; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE) != 0) continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        found = EqualSid(&ace->SidStart, everyone()) && (ace->Mask & kGranted) == kGranted;
    }
    LocalFree(descriptor);
    return found;
}

Scenario* named(std::vector<Scenario>& all, const std::string& name) {
    for (Scenario& s : all) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

}  // namespace

void add_own_steps(std::vector<Scenario>& all, const Places&) {
    if (Scenario* s = named(all, "permessi_conservati")) {
        s->before = [](Scenario& self, const Places&) { grant_everyone(self.folder30 + L"\\Estr.bin"); };
        s->after = [](const Scenario& self, const Places&) {
            std::vector<std::string> problems;
            if (!grants_everyone(self.folder30 + L"\\Estr.bin")) {
                problems.push_back("the new Estr.bin lost the entry granting Everyone read and write access");
            }
            return problems;
        };
    }
    if (Scenario* s = named(all, "tenuto_da_altro_programma")) {
        // The name the Restart Manager gives the holder is the name the message must show.
        s->before = [](Scenario& self, const Places&) {
            const std::wstring file = self.folder30 + L"\\Estr.bin";
            const auto names = aggiorna::windows::other_holders(aggiorna::windows::restart_manager_holders(file),
                                                                self.folder30);
            if (names.empty()) throw std::runtime_error("the Restart Manager names no holder of " + to_utf8(file));
            std::vector<std::wstring> programs;
            for (const std::string& name : names) programs.push_back(aggiorna::windows::to_wide_lossy(name));
            self.boxes.push_back(other_programs_box(file, programs));
        };
    }
    if (Scenario* s = named(all, "cartella_di_rete")) {
        s->before = [](Scenario& self, const Places&) {
            const std::wstring share = self.app_path->substr(0, self.app_path->find(L'\\', 2) + 1) +
                                       self.folder30.substr(0, 1) + L"$\\";
            if (GetFileAttributesW(share.c_str()) == INVALID_FILE_ATTRIBUTES) {
                throw NotRun{"the administrative share " + to_utf8(share) +
                             " cannot be reached (the Server service is off, or file sharing is)"};
            }
        };
    }
    if (Scenario* s = named(all, "amministratore_dopo_virtualizzato")) {
        // A virtualized program (the holder, in the host's place) saves the archive: Windows puts
        // that copy in the user's VirtualStore, and the host reads it from then on.
        s->before = [](Scenario& self, const Places& p) {
            const std::wstring saved = p.test + L"\\salvato.bin";
            write_file(saved, kVecchioEstr30Virtuale);
            const std::wstring archive = self.folder30 + L"\\Estr.bin";
            const Started copy = start_as_desktop_user(p.test + L"\\e2e_holder.exe",
                                                       L"copy \"" + saved + L"\" \"" + archive + L"\"", p.test);
            if (copy.process == nullptr) throw std::runtime_error("the virtualized copy did not start");
            const aggiorna::windows::ScopedHandle owned(copy.process);
            WaitForSingleObject(copy.process, 30000);
            if (read_file(p.virtual_copy(archive)) != kVecchioEstr30Virtuale) {
                throw std::runtime_error("the virtualized copy left no virtual Estr.bin");
            }
        };
    }
}

}  // namespace kit
