// The steps of the scenarios that only Windows can run: a DACL set on the host's archive and
// checked after the run, the holder's name asked of the Restart Manager, a virtual copy written by
// a virtualized process, the administrative share.
#include <memory>
#include <stdexcept>

#include "dacl.h"
#include "launch.h"
#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "restart_manager_entry.h"
#include "scenarios.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

Scenario* named(std::vector<Scenario>& all, const std::string& name) {
    for (Scenario& s : all) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

}  // namespace

void add_own_steps(std::vector<Scenario>& all, const Places&) {
    if (Scenario* s = named(all, "permessi_conservati")) {
        // The entries the old archive inherits from its folder, taken before the run.
        const auto old_inherited = std::make_shared<std::vector<AceFacts>>();
        s->before = [old_inherited](Scenario& self, const Places&) {
            const std::wstring file = self.folder30 + L"\\Estr.bin";
            grant_everyone(file);
            const auto entries = dacl_entries(file);
            if (!entries) throw std::runtime_error("cannot read the DACL of " + to_utf8(file));
            *old_inherited = inherited(*entries);
            if (old_inherited->empty()) throw std::runtime_error(to_utf8(file) + " inherits no entry from its folder");
        };
        s->after = [old_inherited](const Scenario& self, const Places&) {
            const std::wstring file = self.folder30 + L"\\Estr.bin";
            const auto entries = dacl_entries(file);
            if (!entries) return std::vector<std::string>{"cannot read the DACL of the new " + to_utf8(file)};
            std::vector<std::string> problems;
            if (!grants_everyone(*entries)) {
                problems.push_back("the new Estr.bin lost the entry granting Everyone read and write access");
            }
            if (inherited(*entries) != *old_inherited) {
                problems.push_back("the new Estr.bin does not inherit its folder's entries as the old one did (" +
                                   std::to_string(inherited(*entries).size()) + " inherited entries, not " +
                                   std::to_string(old_inherited->size()) + ")");
            }
            if (!users_can_read(*entries)) problems.push_back("the Users can no longer read the new Estr.bin");
            return problems;
        };
    }
    if (Scenario* s = named(all, "tenuto_da_altro_programma")) {
        // The message must name the holder as the Restart Manager's own entry for the process the
        // runner started names it: asked here, apart from the program's functions.
        s->before = [](Scenario& self, const Places&) {
            const std::wstring file = self.folder30 + L"\\Estr.bin";
            std::wstring name = restart_manager_name(file, self.holder_process);
            // An entry without a name: the program file the runner started, as the user knows it.
            if (name.empty()) name = L"e2e_holder.exe";
            self.boxes.push_back(other_programs_box(file, {name}));
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
