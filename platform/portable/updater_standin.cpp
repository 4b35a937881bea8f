// ComponenteAggiornamentoSostitutivo: puts the new archive in place of the old one.
#include "platform/portable/updater_standin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/portable/path_mapping.h"
#include "platform/portable/posix_files.h"

namespace aggiorna::portable {

namespace {

constexpr std::string_view kCaption = "Aggiornamento Archivio";

// Replaces `archive` by `replacement` in one rename, so that the old archive stays whole until
// the new one is in place, and syncs the folder so that the swap survives a crash. The new
// archive keeps the old one's mode and group (and owner, for root) and exactly its DOS attributes
// (none where it has none); an old archive without any write bit is read-only and stays.
bool replace_archive(const std::filesystem::path& replacement, const std::filesystem::path& archive) {
    const int fd = ::open(replacement.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st, old;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && ::stat(archive.c_str(), &old) == 0) {
        ok = S_ISREG(old.st_mode) && !without_write_bits(old);
        if (ok) keep_owner_and_mode(fd, old);
    }
    // Exactly the old archive's, even none: a hidden "Estr.bi_" left by an earlier run (whose
    // attributes the copy kept) must not make the archive hidden.
    ok = ok && keep_dos_attributes(fd, archive);
    ::close(fd);
    if (!ok || ::rename(replacement.c_str(), archive.c_str()) != 0) return false;
    const int dir = ::open(archive.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// The folder as the user knows it, without the separator the host may have stored at its end.
std::string shown_folder(std::string folder) {
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

}  // namespace

void ComponenteAggiornamentoSostitutivo::CompletaAggiornamento(const std::string& cartella) {
    const auto replacement = map_windows_path(prefix_, cartella + "\\Estr.bi_");
    const auto archive = map_windows_path(prefix_, cartella + "\\Estr.bin");
    // The host has its archive open: replacing it now would leave the host writing to a deleted
    // file. Fail as the real component does, with run-time error 75; the run shows the in-use
    // message and the old archive stays.
    if (archive && held_open_by_another_process(*archive))
        throw Error(code::path_file_access, "Estr.bin open by another process: " + archive->string());
    if (replacement && archive && replace_archive(*replacement, *archive)) {
        boxes_.message_box("L'aggiornamento \xC3\xA8 stato eseguito correttamente.", box_style::information, kCaption);
        return;
    }
    boxes_.message_box("Non \xC3\xA8 stato possibile sostituire il file Estr.bin in " + shown_folder(cartella) +
                           ".\r\rImpossibile completare l'aggiornamento dell'archivio estrazioni.",
                       box_style::error, kCaption);
}

}  // namespace aggiorna::portable
