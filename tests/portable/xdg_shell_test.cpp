// Tests of XdgShell on a temporary home folder, and of the user-dirs.dirs reading.
#include "platform/portable/xdg_shell.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

namespace aggiorna::portable {
namespace {

namespace fs = std::filesystem;

// A temporary HOME, with XDG_CONFIG_HOME unset; both put back afterwards.
class CasaTemporanea : public ::testing::Test {
protected:
    void SetUp() override {
        salva("HOME", home_);
        salva("XDG_CONFIG_HOME", config_);
        std::string modello = (fs::temp_directory_path() / "xdg_shell_XXXXXX").string();
        ASSERT_NE(mkdtemp(modello.data()), nullptr);
        casa_ = modello;
        setenv("HOME", casa_.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        ripristina("HOME", home_);
        ripristina("XDG_CONFIG_HOME", config_);
        std::error_code ec;
        fs::remove_all(casa_, ec);
    }
    void scrivi(const fs::path& cartella, const std::string& testo) {
        fs::create_directories(cartella);
        std::ofstream(cartella / "user-dirs.dirs", std::ios::binary) << testo;
    }

    fs::path casa_;
    XdgShell shell_;

private:
    static void salva(const char* nome, std::optional<std::string>& dove) {
        if (const char* v = std::getenv(nome)) dove = v;
    }
    static void ripristina(const char* nome, const std::optional<std::string>& valore) {
        if (valore) setenv(nome, valore->c_str(), 1);
        else unsetenv(nome);
    }
    std::optional<std::string> home_, config_;
};

TEST_F(CasaTemporanea, QuotedValueUnderHomeIsExpanded) {
    scrivi(casa_ / ".config", "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Scaricati\"\n"
                              "XDG_DESKTOP_DIR=\"$HOME/Scrivania\"\n");
    EXPECT_EQ(shell_.special_folder(kCsidlDesktop), (casa_ / "Scrivania").string());
}

TEST_F(CasaTemporanea, XdgConfigHomeIsWhereTheFileIs) {
    const fs::path altrove = casa_ / "altrove";
    scrivi(altrove, "XDG_DESKTOP_DIR=\"/srv/condivisa/Desktop\"\n");
    scrivi(casa_ / ".config", "XDG_DESKTOP_DIR=\"$HOME/Sbagliata\"\n");
    setenv("XDG_CONFIG_HOME", altrove.c_str(), 1);
    EXPECT_EQ(shell_.special_folder(kCsidlDesktop), "/srv/condivisa/Desktop");
}

TEST_F(CasaTemporanea, MissingFileGivesHomeDesktop) {
    EXPECT_EQ(shell_.special_folder(kCsidlDesktop), (casa_ / "Desktop").string());
}

TEST_F(CasaTemporanea, FileWithoutTheDesktopLineGivesHomeDesktop) {
    scrivi(casa_ / ".config", "XDG_MUSIC_DIR=\"$HOME/Musica\"\nXDG_DESKTOP_DIR=\"relativa\"\n");
    EXPECT_EQ(shell_.special_folder(kCsidlDesktop), (casa_ / "Desktop").string());
}

TEST_F(CasaTemporanea, OtherFoldersAreEmpty) {
    EXPECT_EQ(shell_.special_folder(5), "");
}

TEST(UserDirFromText, ReadsAsAShellWould) {
    struct Caso {
        const char* testo;
        const char* atteso;
    };
    const Caso casi[] = {
        {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"", "/home/mario/Desktop"},
        {"XDG_DESKTOP_DIR=\"${HOME}/Desktop\"\n", "/home/mario/Desktop"},
        {"  XDG_DESKTOP_DIR = \"$HOME/Scrivania/\"  \r\n", "/home/mario/Scrivania"},
        {"XDG_DESKTOP_DIR=$HOME/Senza virgolette", "/home/mario/Senza virgolette"},
        {"XDG_DESKTOP_DIR=\"$HOME\"", "/home/mario"},
        {"XDG_DESKTOP_DIR=\"/dati/\\\"Desktop\\\"\"", "/dati/\"Desktop\""},
        {"XDG_DESKTOP_DIR=\"$HOMEBREW/Desktop\"", ""},
        {"#XDG_DESKTOP_DIR=\"/commentata\"", ""},
        {"XDG_DESKTOP_DIRS=\"/altra\"", ""},
        {"XDG_DESKTOP_DIR=\"/prima\"\nXDG_DESKTOP_DIR=\"/seconda\"", "/seconda"},
        {"XDG_DESKTOP_DIR=\"/prima\"\nXDG_DESKTOP_DIR=\"relativa\"", "/prima"},
        {"", ""},
    };
    for (const auto& c : casi) EXPECT_EQ(user_dir_from_text(c.testo, "XDG_DESKTOP_DIR", "/home/mario"), c.atteso) << c.testo;
    EXPECT_EQ(user_dir_from_text("XDG_DESKTOP_DIR=\"$HOME/Desktop\"", "XDG_DESKTOP_DIR", ""), "");
}

}  // namespace
}  // namespace aggiorna::portable
