// The steps of the scenarios that only Windows can run: a DACL set on the host's archive and
// checked after the run, the holder's name asked of the Restart Manager, a virtual copy written by
// a virtualized process, the administrative share and a share of the kit's, a folder opened to the
// Users, a shortcut set to run as administrator, a virtual copy its user can write.
#include <lmerr.h>

#include <memory>
#include <stdexcept>

#include "dacl.h"
#include "launch.h"
#include "platform/windows/handles.h"
#include "platform/windows/text.h"
#include "restart_manager_entry.h"
#include "scenarios.h"
#include "share.h"
#include "shortcut.h"
#include "system_state.h"
#include "texts.h"

namespace kit {
namespace {

using aggiorna::windows::ScopedHandle;
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
            self.boxes.push_back(errore(altri_programmi(file, {name})));
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
            const ScopedHandle owned(copy.process);
            WaitForSingleObject(copy.process, 30000);
            if (read_file(p.virtual_copy(archive)) != kVecchioEstr30Virtuale) {
                throw std::runtime_error("the virtualized copy left no virtual Estr.bin");
            }
        };
    }
    if (Scenario* s = named(all, "runasadmin_cartella_modificabile")) {
        s->before = [](Scenario& self, const Places&) { grant_users_modify(self.folder30); };
    }
    if (Scenario* s = named(all, "collegamento_come_amministratore")) {
        // Found where the program looks: the user's Start menu, in a folder below it.
        s->before = [](Scenario& self, const Places& p) {
            if (!make_folders(p.start_menu)) throw std::runtime_error("cannot make " + to_utf8(p.start_menu));
            make_run_as_administrator_shortcut(p.start_menu + L"\\Quintrel! Professional 3.0.lnk",
                                               self.folder30 + L"\\quintrel.exe");
        };
    }
    if (Scenario* s = named(all, "primo_aggiornamento_virtuale")) {
        s->before = [](Scenario& self, const Places&) { let_users_only_read(self.folder30 + L"\\Estr.bin"); };
        // The first virtual copy must be the user's to write, as the host writes it when it saves the
        // archive: it takes nothing of the real file's DACL, which lets the Users only read.
        s->after = [](const Scenario& self, const Places& p) {
            const std::wstring copy = p.virtual_copy(self.folder30 + L"\\Estr.bin");
            const Started opened =
                start_as_desktop_user(p.test + L"\\e2e_holder.exe", L"open-write \"" + copy + L"\"", p.test);
            if (opened.process == nullptr) return std::vector<std::string>{"the desktop user's helper did not start"};
            const ScopedHandle owned(opened.process);
            DWORD status = 1;
            if (WaitForSingleObject(opened.process, 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(opened.process, &status)) {
                return std::vector<std::string>{"the desktop user's helper did not end within 30 s"};
            }
            if (status != 0) {
                return std::vector<std::string>{"the user at the desktop cannot open their virtual copy " + to_utf8(copy) +
                                                " for writing (the helper ended with " + std::to_string(status) + ")"};
            }
            return std::vector<std::string>{};
        };
    }
    if (Scenario* s = named(all, "condivisione_modifica")) {
        s->before = [](Scenario& self, const Places&) {
            grant_users_modify(self.folder30);
            const DWORD status = make_share(kShareName, self.folder30);
            // The Server service (LanmanServer) off: no share can be made on this machine.
            if (status == NERR_ServerNotStarted) throw NotRun{"the Server service is not running: no folder can be shared"};
            if (status != 0) {
                throw std::runtime_error("NetShareAdd of " + to_utf8(self.folder30) + " failed with " + std::to_string(status));
            }
            const std::wstring share = L"\\\\localhost\\" + std::wstring(kShareName) + L"\\";
            if (GetFileAttributesW(share.c_str()) == INVALID_FILE_ATTRIBUTES) {
                throw NotRun{"the kit's share " + to_utf8(share) + " cannot be reached (the Workstation service is off, "
                             "or file sharing is)"};
            }
        };
        s->after = [](const Scenario&, const Places&) {
            if (remove_share(kShareName)) return std::vector<std::string>{};
            return std::vector<std::string>{"the share " + to_utf8(kShareName) + " cannot be removed"};
        };
    }
}

}  // namespace kit
