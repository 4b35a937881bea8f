// Tests of FileRunLog: where the log goes, its lines, the removal of old runs' logs, and folders
// that cannot be written.
#include "platform/portable/run_log.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "portable/posix_files_fixture.h"

namespace aggiorna::portable {
namespace {

using namespace std::chrono_literals;

// A fixed start: 2026-12-11 12:03:04.123 UTC.
const std::chrono::system_clock::time_point kStart =
    std::chrono::system_clock::time_point(std::chrono::seconds(1796990584)) + 123ms;

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "run_log_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        root_ = dir;
        folder_ = root_ / "state" / "aggiorna-archivio";
    }
    void TearDown() override {
        if (immutable_) set_immutable(*immutable_, false);
        fs::permissions(root_, fs::perms::owner_all);
        fs::remove_all(root_);
    }

    std::vector<std::string> names_in(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root_, folder_;
    std::optional<fs::path> immutable_;
};

TEST_F(RunLogTest, LinesInOrderInOneFileNamedByTheStart) {
    FileRunLog log(folder_, kStart, 4567);
    EXPECT_EQ(log.where(), "");  // made at the first line
    EXPECT_FALSE(fs::exists(folder_));
    log.write_line("AggiornaArchivio 1.1.0 (portable, 64-bit)");
    const fs::path file = folder_ / "aggiorna-20261211T120304.123Z-4567.log";
    EXPECT_EQ(log.where(), file.string());
    // Each line is in the file as soon as it is written, before the log goes.
    EXPECT_EQ(read_whole(file), "AggiornaArchivio 1.1.0 (portable, 64-bit)\n");
    log.write_line("");
    log.write_line("Versione 4: C:\\Programmi\\Quintrel4 \xC3\xA8 aggiornata");
    EXPECT_EQ(read_whole(file),
              "AggiornaArchivio 1.1.0 (portable, 64-bit)\n\nVersione 4: C:\\Programmi\\Quintrel4 \xC3\xA8 aggiornata\n");
    EXPECT_EQ((fs::status(file).permissions() & fs::perms::all), fs::perms(0600));
    EXPECT_EQ((fs::status(folder_).permissions() & fs::perms::all), fs::perms(0700));
    EXPECT_EQ((fs::status(folder_.parent_path()).permissions() & fs::perms::all), fs::perms(0700));
}

// Two runs in the same millisecond keep apart by their pids; names sort by start.
TEST_F(RunLogTest, EachRunHasItsOwnFile) {
    FileRunLog first(folder_, kStart, 100), second(folder_, kStart, 101), later(folder_, kStart + 1ms, 7);
    for (FileRunLog* log : {&later, &second, &first}) log->write_line("riga");
    EXPECT_THAT(names_in(folder_), ::testing::ElementsAre("aggiorna-20261211T120304.123Z-100.log",
                                                          "aggiorna-20261211T120304.123Z-101.log",
                                                          "aggiorna-20261211T120304.124Z-7.log"));
}

// The last 20 runs' logs stay; older ones go; other files are never touched.
TEST_F(RunLogTest, KeepsTheLastTwentyRuns) {
    fs::create_directories(folder_);
    std::vector<std::string> old;
    for (int i = 0; i < 25; ++i) {
        FileRunLog log(folder_, kStart - std::chrono::hours(25 - i), 1000 + i);
        log.write_line("vecchia");
        old.push_back(fs::path(log.where()).filename().string());
    }
    const std::vector<std::string> foreign = {"note.txt", "aggiorna-20000101T000000.000Z-1.log.bak",
                                              "aggiorna-2000.log", "Aggiorna-20000101T000000.000Z-1.log"};
    for (const std::string& name : foreign) std::ofstream(folder_ / name) << "x";
    FileRunLog log(folder_, kStart, 4567);
    log.write_line("nuova");
    std::vector<std::string> expected(old.end() - 19, old.end());
    expected.push_back("aggiorna-20261211T120304.123Z-4567.log");
    expected.insert(expected.end(), foreign.begin(), foreign.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names_in(folder_), expected);
    EXPECT_FALSE(fs::exists(folder_ / old.front()));
}

TEST_F(RunLogTest, LogNames) {
    struct Case {
        const char* name;
        bool ours;
    };
    const Case cases[] = {
        {"aggiorna-20261211T120304.123Z-4567.log", true},
        {"aggiorna-20261211T120304.123Z-1.log", true},
        {"aggiorna-20261211T120304.123Z-.log", false},
        {"aggiorna-20261211T120304.123Z-45x7.log", false},
        {"aggiorna-20261211T120304Z-4567.log", false},
        {"aggiorna-20261211 120304.123Z-4567.log", false},
        {"aggiorna-20261211T120304.123Z-4567.log.bak", false},
        {"Aggiorna-20261211T120304.123Z-4567.log", false},
        {"note.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileRunLog::is_log_name(c.name), c.ours);
    }
}

// A folder that cannot be made or written: no exception, nothing written, where() empty.
TEST_F(RunLogTest, AFolderThatCannotBeWrittenLosesTheLines) {
    struct Case {
        const char* what;
        std::function<bool(const fs::path&)> spoil;  // false: cannot be done here
    };
    const Case cases[] = {
        {"a file in the folder's place",
         [](const fs::path& f) {
             fs::create_directories(f.parent_path());
             std::ofstream(f) << "x";
             return true;
         }},
        {"a file in the place of a folder above it",
         [](const fs::path& f) {
             fs::remove_all(f.parent_path());
             std::ofstream(f.parent_path()) << "x";
             return true;
         }},
        {"no folder at all", [](const fs::path&) { return true; }},
        {"a read-only folder",
         [this](const fs::path& f) {
             fs::create_directories(f);
             if (::geteuid() != 0) {
                 fs::permissions(f, fs::perms(0555));
                 return true;
             }
             if (!set_immutable(f, true)) return false;
             immutable_ = f;
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path place = root_ / c.what / "aggiorna-archivio";
        fs::create_directories(root_ / c.what);
        if (!c.spoil(place)) continue;
        const fs::path folder = std::string(c.what) == "no folder at all" ? fs::path() : place;
        {
            FileRunLog log(folder, kStart, 4567);
            EXPECT_NO_THROW(log.write_line("persa"));
            EXPECT_NO_THROW(log.write_line("anche questa"));
            EXPECT_EQ(log.where(), "");
        }
        if (fs::is_directory(place)) {
            EXPECT_TRUE(fs::is_empty(place));
        }
        if (immutable_) {
            set_immutable(*immutable_, false);
            immutable_.reset();
        }
    }
}

// Where the folder is: XDG_STATE_HOME (absolute only), else HOME's .local/state, else none.
TEST_F(RunLogTest, FolderFromTheEnvironment) {
    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto state = saved("XDG_STATE_HOME"), home = saved("HOME");
    const auto set = [](const char* name, const std::optional<std::string>& v) {
        if (v) ::setenv(name, v->c_str(), 1);
        else ::unsetenv(name);
    };
    struct Case {
        std::optional<std::string> state, home;
        std::optional<fs::path> folder;
    };
    const Case cases[] = {
        {"/srv/stato", "/home/mario", fs::path("/srv/stato/aggiorna-archivio")},
        {std::nullopt, "/home/mario", fs::path("/home/mario/.local/state/aggiorna-archivio")},
        {"", "/home/mario", fs::path("/home/mario/.local/state/aggiorna-archivio")},
        {"relativo", "/home/mario", fs::path("/home/mario/.local/state/aggiorna-archivio")},
        {std::nullopt, std::nullopt, std::nullopt},
        {std::nullopt, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state.value_or("(unset)") + " " + c.home.value_or("(unset)"));
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        EXPECT_EQ(run_log_folder(), c.folder);
    }
    set("XDG_STATE_HOME", state);
    set("HOME", home);
}

// The program's own log, made where the environment says.
TEST_F(RunLogTest, TheDefaultLogFollowsXdgStateHome) {
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::optional<std::string> state = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("XDG_STATE_HOME", (root_ / "xdg").c_str(), 1);
    FileRunLog log;
    log.write_line("riga");
    const fs::path file = log.where();
    EXPECT_EQ(file.parent_path(), root_ / "xdg" / "aggiorna-archivio");
    EXPECT_TRUE(FileRunLog::is_log_name(file.filename().string()));
    EXPECT_TRUE(file.filename().string().ends_with("Z-" + std::to_string(::getpid()) + ".log"));
    EXPECT_EQ(read_whole(file), "riga\n");
    if (state) ::setenv("XDG_STATE_HOME", state->c_str(), 1);
    else ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace aggiorna::portable
