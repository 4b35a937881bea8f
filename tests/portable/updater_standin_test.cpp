// Tests of the program's own stand-in for the outside update component.
#include "platform/portable/updater_standin.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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

}  // namespace
}  // namespace aggiorna::portable
