// Tests of the program's own stand-in for the outside update component.
#include "platform/portable/updater_standin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace aggiorna::portable {
namespace {
namespace fs = std::filesystem;

struct Box {
    std::string text;
    std::uint32_t style;
    std::string caption;
};

class RecordedBoxes : public MessageBoxes {
public:
    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override {
        shown.push_back({std::string(text), style, std::string(caption)});
        return box_answer::ok;
    }
    std::vector<Box> shown;
};

std::string read_whole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A version 4 folder as the update run leaves it: the old archive, the new one beside it as
// "Estr.bi_", and "bl.bin".
class UpdaterStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/aggiorna-updater-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        root_ = fs::canonical(name);
        prefix_ = root_ / "pfx";
        host_ = prefix_ / "drive_c" / "Programmi" / "Quintrel4";
        fs::create_directories(host_);
        fs::create_directories(prefix_ / "dosdevices");
        fs::create_symlink("../drive_c", prefix_ / "dosdevices" / "c:");
        std::ofstream(host_ / "Estr.bin") << "old archive";
        std::ofstream(host_ / "Estr.bi_") << "new archive";
        std::ofstream(host_ / "bl.bin") << "companion";
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_, prefix_, host_;
    RecordedBoxes boxes_;
};

const std::string kSuccess = "L'aggiornamento \xC3\xA8 stato eseguito correttamente.";

TEST_F(UpdaterStandInTest, ReplacesTheArchiveAndLeavesTheCompanion) {
    for (const char* folder : {"C:\\Programmi\\Quintrel4", "C:\\Programmi\\Quintrel4\\", "c:\\PROGRAMMI\\quintrel4"}) {
        SCOPED_TRACE(folder);
        std::ofstream(host_ / "Estr.bi_") << "new archive";
        boxes_.shown.clear();
        ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
        updater.CompletaAggiornamento(folder);
        EXPECT_EQ(read_whole(host_ / "Estr.bin"), "new archive");
        EXPECT_FALSE(fs::exists(host_ / "Estr.bi_"));
        EXPECT_EQ(read_whole(host_ / "bl.bin"), "companion");
        EXPECT_EQ(std::distance(fs::directory_iterator(host_), fs::directory_iterator()), 2);  // nothing left over
        ASSERT_EQ(boxes_.shown.size(), 1u);
        EXPECT_EQ(boxes_.shown[0].text, kSuccess);
        EXPECT_EQ(boxes_.shown[0].style, box_style::information);
        EXPECT_EQ(boxes_.shown[0].caption, "Aggiornamento Archivio");
    }
}

TEST_F(UpdaterStandInTest, InstallsTheArchiveWhenThereWasNone) {
    fs::remove(host_ / "Estr.bin");
    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), "new archive");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, kSuccess);
}

TEST_F(UpdaterStandInTest, ReportsWhatCouldNotBeReplaced) {
    struct Case {
        const char* folder;
        const char* shown_folder;
        bool remove_new_archive;
    };
    const Case cases[] = {
        {"C:\\Programmi\\Quintrel4", "C:\\Programmi\\Quintrel4", true},
        {"C:\\Programmi\\Quintrel4\\", "C:\\Programmi\\Quintrel4", true},
        {"C:\\Programmi\\Manca", "C:\\Programmi\\Manca", false},
        {"Q:\\Programmi\\Quintrel4", "Q:\\Programmi\\Quintrel4", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.remove_new_archive) fs::remove(host_ / "Estr.bi_");
        boxes_.shown.clear();
        ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
        EXPECT_NO_THROW(updater.CompletaAggiornamento(c.folder));
        EXPECT_EQ(read_whole(host_ / "Estr.bin"), "old archive");
        EXPECT_EQ(read_whole(host_ / "bl.bin"), "companion");
        ASSERT_EQ(boxes_.shown.size(), 1u);
        EXPECT_EQ(boxes_.shown[0].text, std::string("Non \xC3\xA8 stato possibile sostituire il file Estr.bin in ") +
                                            c.shown_folder +
                                            ".\r\rImpossibile completare l'aggiornamento dell'archivio estrazioni.");
        EXPECT_EQ(boxes_.shown[0].style, box_style::error);
        EXPECT_EQ(boxes_.shown[0].caption, "Aggiornamento Archivio");
    }
}

TEST_F(UpdaterStandInTest, AFolderNamedLikeTheNewArchiveIsNotInstalled) {
    fs::remove(host_ / "Estr.bi_");
    fs::create_directory(host_ / "Estr.bi_");
    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), "old archive");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].style, box_style::error);
}

// The host running with its archive open: nothing is replaced, and the failure is the real
// component's run-time error 75, so that the run shows the in-use message.
TEST_F(UpdaterStandInTest, AnArchiveHeldOpenByTheHostIs75) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        const int fd = ::open((host_ / "Estr.bin").c_str(), O_RDWR);
        const char ok = fd >= 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);

    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    int code = 0;
    try {
        updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    } catch (const Error& e) {
        code = e.code();
    }
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
    EXPECT_EQ(ok, 'y');
    EXPECT_EQ(code, code::path_file_access);
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), "old archive");
    EXPECT_EQ(read_whole(host_ / "Estr.bi_"), "new archive");
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(UpdaterStandInTest, TheNewArchiveKeepsTheOldOnesModeAndGroup) {
    const fs::path archive = host_ / "Estr.bin";
    ASSERT_EQ(::chmod(archive.c_str(), 0640), 0);
    struct stat before;
    ASSERT_EQ(::stat(archive.c_str(), &before), 0);
    const gid_t group = ::geteuid() == 0 ? (before.st_gid == 0 ? 1 : 0) : before.st_gid;
    ASSERT_EQ(::chown(archive.c_str(), static_cast<uid_t>(-1), group), 0);
    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    struct stat after;
    ASSERT_EQ(::stat(archive.c_str(), &after), 0);
    EXPECT_EQ(read_whole(archive), "new archive");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_gid, group);
}

TEST_F(UpdaterStandInTest, TheNewArchiveKeepsTheOldOnesDosAttributes) {
    const fs::path archive = host_ / "Estr.bin";
    if (::setxattr(archive.c_str(), "user.DOSATTRIB", "0x2", 3, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    EXPECT_EQ(read_whole(archive), "new archive");
    char value[16] = {};
    const ssize_t n = ::getxattr(archive.c_str(), "user.DOSATTRIB", value, sizeof value);
    EXPECT_EQ(std::string(value, n > 0 ? static_cast<std::size_t>(n) : 0), "0x2");
}

// The new archive takes exactly the old archive's DOS attributes, never those of the "Estr.bi_"
// it was (a hidden "Estr.bi_" left by an earlier run, replaced by the copy with its attributes
// kept, must not make the archive hidden).
TEST_F(UpdaterStandInTest, TheNewArchiveTakesExactlyTheOldOnesDosAttributes) {
    struct Case {
        const char* what;
        bool old_archive;
        std::optional<std::string> archive, replacement;  // their user.DOSATTRIB, if any
    };
    const Case cases[] = {
        {"old plain, leftover hidden", true, std::nullopt, "0x2"},
        {"old hidden, leftover plain", true, "0x2", std::nullopt},
        {"old system, leftover hidden", true, "0x4", "0x22"},
        {"old with a long value", true, std::string(300, '9'), "0x2"},
        {"no old archive, leftover hidden", false, std::nullopt, "0x2"},
    };
    const fs::path archive = host_ / "Estr.bin", replacement = host_ / "Estr.bi_";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(archive);
        if (c.old_archive) std::ofstream(archive) << "old archive";
        std::ofstream(replacement) << "new archive";
        const auto set = [](const fs::path& p, const std::optional<std::string>& value) {
            return !value || ::setxattr(p.c_str(), "user.DOSATTRIB", value->data(), value->size(), 0) == 0;
        };
        if (!set(archive, c.archive) || !set(replacement, c.replacement))
            GTEST_SKIP() << "no user extended attributes here";
        boxes_.shown.clear();
        ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
        updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
        EXPECT_EQ(read_whole(archive), "new archive");
        std::string value(1024, '\0');
        const ssize_t n = ::getxattr(archive.c_str(), "user.DOSATTRIB", value.data(), value.size());
        EXPECT_EQ(n >= 0 ? std::optional<std::string>(value.substr(0, static_cast<std::size_t>(n))) : std::nullopt,
                  c.archive);
        ASSERT_EQ(boxes_.shown.size(), 1u);
        EXPECT_EQ(boxes_.shown[0].text, kSuccess);
    }
}

TEST_F(UpdaterStandInTest, AnArchiveWithoutWriteBitsStays) {
    ASSERT_EQ(::chmod((host_ / "Estr.bin").c_str(), 0444), 0);
    ComponenteAggiornamentoSostitutivo updater(prefix_, boxes_);
    updater.CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    EXPECT_EQ(read_whole(host_ / "Estr.bin"), "old archive");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].style, box_style::error);
}

}  // namespace
}  // namespace aggiorna::portable
