// In-memory fakes of every platform interface, for driving the core in tests. Each fake can be
// told to fail, and all of them write to one shared event log so that tests can check the order
// of what the core did.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace aggiorna::testing {

using EventLog = std::vector<std::string>;

inline std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The run-time code that `f` fails with, or 0 when it succeeds.
inline int CodiceDi(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.code();
    }
    return 0;
}

// Thrown by FakeProcess::end_process so that a test sees the end of the process as an unwind.
struct ProcessEnded {};

// ---------------------------------------------------------------------------------------------
class FakeRegistry final : public Registry {
public:
    explicit FakeRegistry(EventLog& log) : log_(log) {}

    struct Value {
        std::string data;  // ANSI bytes for strings (without NUL), raw bytes otherwise
        bool is_string = true;
        std::optional<std::string> unicode;  // what query_path gives, when not data read as Latin-1
    };

    // root is kHkeyLocalMachine or kHkeyCurrentUser; path like "Software\\Quibex\\Quintrel! 4".
    void set_string(RegKey root, const std::string& path, const std::string& name, const std::string& ansi) {
        keys_[key_id(root, path)][lower(name)] = Value{ansi, true, std::nullopt};
    }
    void set_binary(RegKey root, const std::string& path, const std::string& name, const std::string& bytes) {
        keys_[key_id(root, path)][lower(name)] = Value{bytes, false, std::nullopt};
    }
    void add_key(RegKey root, const std::string& path) { keys_[key_id(root, path)]; }
    // A REG_EXPAND_SZ value: `stored` as the ANSI calls give it, `expanded` (UTF-8) as query_path
    // gives it.
    void set_expand_string(RegKey root, const std::string& path, const std::string& name, const std::string& stored,
                           const std::string& expanded) {
        keys_[key_id(root, path)][lower(name)] = Value{stored, true, expanded};
    }
    // A string value whose UTF-16 text has no exact ANSI spelling: the ANSI calls give `ansi`
    // (the code page's best fit), query_path gives `unicode`.
    void set_unicode_string(RegKey root, const std::string& path, const std::string& name, const std::string& ansi,
                            const std::string& unicode) {
        keys_[key_id(root, path)][lower(name)] = Value{ansi, true, unicode};
    }

    // Opens asking for any of these access bits fail, as for a user without those rights.
    std::uint32_t refused_access = 0;

    RegKey open_key(RegKey parent, std::string_view name, std::uint32_t access) override {
        std::string path;
        if (parent == kHkeyLocalMachine) path = "hklm";
        else if (parent == kHkeyCurrentUser) path = "hkcu";
        else if (auto it = open_.find(parent); it != open_.end()) path = it->second;
        else { log_.push_back("reg-open-bad-parent"); return 0; }
        path += "\\" + lower(std::string(name));
        opens.push_back({path, access});
        log_.push_back("reg-open:" + path);
        if (access & refused_access) return 0;
        if (!exists(path)) return 0;
        RegKey k = next_++;
        open_[k] = path;
        return k;
    }
    bool query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                     std::uint32_t& length) override {
        const Value* v = find(key, name);
        if (!v) return false;
        std::string bytes = v->data;
        if (v->is_string) bytes.push_back('\0');
        if (bytes.size() > area.size()) return false;
        std::memcpy(area.data(), bytes.data(), bytes.size());
        length = static_cast<std::uint32_t>(bytes.size());
        return true;
    }
    std::optional<std::string> query_string(RegKey key, std::string_view name) override {
        const Value* v = find(key, name);
        if (!v || !v->is_string) return std::nullopt;
        return v->data;
    }
    std::optional<std::string> query_path(RegKey key, std::string_view name) override {
        const Value* v = find(key, name);
        if (!v || !v->is_string) return std::nullopt;
        if (v->unicode) return *v->unicode;
        std::string out;  // Latin-1, close enough to the ANSI code page here
        for (unsigned char c : v->data) {
            if (c < 0x80) out += static_cast<char>(c);
            else { out += static_cast<char>(0xC0 | (c >> 6)); out += static_cast<char>(0x80 | (c & 0x3F)); }
        }
        return out;
    }
    void close_key(RegKey key) override {
        if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return;
        if (open_.erase(key) == 0) ++bad_closes;
        ++closes;
    }

    std::size_t open_handles() const { return open_.size(); }
    int closes = 0;
    int bad_closes = 0;  // closes of keys not open (double close)
    struct Open { std::string path; std::uint32_t access; };
    std::vector<Open> opens;

private:
    static std::string key_id(RegKey root, const std::string& path) {
        return std::string(root == kHkeyLocalMachine ? "hklm" : "hkcu") + "\\" + lower(path);
    }
    bool exists(const std::string& path) const {
        for (const auto& [k, _] : keys_)
            if (k == path || k.rfind(path + "\\", 0) == 0) return true;
        return false;
    }
    const Value* find(RegKey key, std::string_view name) const {
        auto o = open_.find(key);
        if (o == open_.end()) return nullptr;
        auto k = keys_.find(o->second);
        if (k == keys_.end()) return nullptr;
        auto v = k->second.find(lower(std::string(name)));
        return v == k->second.end() ? nullptr : &v->second;
    }

    EventLog& log_;
    std::map<std::string, std::map<std::string, Value>> keys_;
    std::map<RegKey, std::string> open_;
    RegKey next_ = 0x1000;
};

// ---------------------------------------------------------------------------------------------
class FakeBoxes final : public MessageBoxes {
public:
    explicit FakeBoxes(EventLog& log) : log_(log) {}
    struct Box { std::string text; std::uint32_t style; std::string caption; };

    std::deque<int> answers;  // answers to confirmation boxes, in order; Cancel when none is left
    std::vector<Box> shown;

    int message_box(std::string_view text, std::uint32_t style, std::string_view caption) override {
        shown.push_back({std::string(text), style, std::string(caption)});
        log_.push_back("box:" + std::string(text));
        if (style != box_style::confirmation) return box_answer::ok;
        if (answers.empty()) return box_answer::cancel;
        int a = answers.front();
        answers.pop_front();
        return a;
    }

private:
    EventLog& log_;
};

// ---------------------------------------------------------------------------------------------
// Files by exact Windows path, compared without regard to case.
class FakeFiles final : public FileSystem {
public:
    explicit FakeFiles(EventLog& log) : log_(log) {}
    struct File {
        std::shared_ptr<std::string> contents = std::make_shared<std::string>();
        std::uint32_t attributes = file_attribute::archive;
    };

    std::string exe_folder = "C:\\Aggiornamento";
    std::optional<int> exe_folder_failure;      // code thrown by executable_folder
    std::map<std::string, File> files;          // key: lower(path)
    std::map<std::string, int> copy_failures;   // lower(destination) -> code thrown
    // lower(destination) -> the other programs that hold it: the copy throws 75 naming them
    std::map<std::string, std::vector<std::string>> held_by;
    std::map<std::string, int> refresh_failures;  // lower(path) -> code thrown by refresh_virtual_copy
    std::set<std::string> elevated_hosts;         // lower(folder) of hosts set to run as administrator
    std::map<std::string, int> open_failures;   // lower(path) -> code thrown
    std::set<std::string> folders;              // lower(path) of folders that exist
    std::set<std::string> special;              // lower(path) of files that are no regular file (a pipe)
    std::map<std::string, int> replace_failures;  // lower(path) -> code thrown by check_replaceable
    std::set<std::string> user_copy_unknown;    // lower(destination) whose copies report it
    // lower(path) -> the landing place a copy reports instead of its destination (the VirtualStore)
    std::map<std::string, std::string> lands_in;
    int open_readers = 0;

    // A stand-in for SHA-256: 64 hex digits that differ for different contents.
    static std::string FakeSha(const std::string& contents) {
        std::string out;
        std::uint64_t h = 1469598103934665603ull;
        for (int round = 0; round < 4; ++round) {
            for (unsigned char c : contents) h = (h ^ c) * 1099511628211ull;
            h = (h ^ static_cast<unsigned>(round)) * 1099511628211ull;
            char part[17];
            std::snprintf(part, sizeof part, "%016llx", static_cast<unsigned long long>(h));
            out += part;
        }
        return out;
    }

    void put(const std::string& path, std::string contents, std::uint32_t attributes = file_attribute::archive) {
        files[lower(path)] = File{std::make_shared<std::string>(std::move(contents)), attributes};
    }
    const std::string* get(const std::string& path) const {
        auto it = files.find(lower(path));
        return it == files.end() ? nullptr : it->second.contents.get();
    }

    // lower(destination) -> code and side a copy fails with
    std::map<std::string, std::pair<int, Side>> copy_failures_at;
    // lower(destination) -> the holders are services
    std::set<std::string> held_by_services;

    CopyReport copy_file(const std::string& source, const std::string& destination) override {
        log_.push_back("copy:" + source + "->" + destination);
        if (auto f = copy_failures.find(lower(destination)); f != copy_failures.end()) throw Error(f->second, "fake copy failure");
        if (auto f = copy_failures_at.find(lower(destination)); f != copy_failures_at.end())
            throw Error(f->second.first, "fake copy failure", f->second.second);
        if (auto h = held_by.find(lower(destination)); h != held_by.end())
            throw Error(code::path_file_access, "fake: held by others", h->second,
                        held_by_services.count(lower(destination)) != 0);
        auto s = files.find(lower(source));
        if (s == files.end()) throw Error(code::file_not_found, "fake: no source " + source, Side::source);
        const std::string contents = *s->second.contents;
        put(destination, contents);
        CopyReport report{contents.size(), FakeSha(contents), {destination}, false};
        if (auto l = lands_in.find(lower(destination)); l != lands_in.end()) report.landed = {l->second};
        report.user_copy_unknown = user_copy_unknown.count(lower(destination)) != 0;
        return report;
    }
    CopyReport refresh_virtual_copy(const std::string& path) override {
        log_.push_back("refresh:" + path);
        if (auto f = refresh_failures.find(lower(path)); f != refresh_failures.end()) throw Error(f->second, "fake refresh failure");
        return {};
    }
    void check_replaceable(const std::string& path) override {
        log_.push_back("check:" + path);
        if (auto f = replace_failures.find(lower(path)); f != replace_failures.end()) throw Error(f->second, "fake: not replaceable");
        if (auto h = held_by.find(lower(path)); h != held_by.end())
            throw Error(code::path_file_access, "fake: held by others", h->second, held_by_services.count(lower(path)) != 0);
    }
    std::optional<FileFacts> file_facts(const std::string& path) override {
        log_.push_back("facts:" + path);
        if (auto it = files.find(lower(path)); it != files.end()) {
            const bool regular = special.count(lower(path)) == 0;
            return FileFacts{false, regular, regular ? it->second.contents->size() : 0, "2026-12-01 10:00:00"};
        }
        if (folders.count(lower(path))) return FileFacts{true, false, 0, "2026-12-01 10:00:00"};
        return std::nullopt;
    }
    std::string sha256(const std::string& path) override {
        log_.push_back("sha256:" + path);
        if (auto f = open_failures.find(lower(path)); f != open_failures.end()) throw Error(f->second, "fake open failure");
        auto it = files.find(lower(path));
        if (it == files.end()) throw Error(code::file_not_found, "fake: no file " + path);
        return FakeSha(*it->second.contents);
    }
    bool host_runs_elevated(const std::string& folder) override {
        log_.push_back("elevated?:" + folder);
        return elevated_hosts.count(lower(folder)) != 0;
    }
    std::optional<std::uint32_t> attributes(const std::string& path) override {
        log_.push_back("attributes:" + path);
        if (auto it = files.find(lower(path)); it != files.end()) return it->second.attributes;
        if (folders.count(lower(path))) return file_attribute::directory;
        return std::nullopt;
    }
    std::unique_ptr<InputFile> open_for_reading(const std::string& path) override {
        log_.push_back("open:" + path);
        if (auto f = open_failures.find(lower(path)); f != open_failures.end()) throw Error(f->second, "fake open failure");
        auto it = files.find(lower(path));
        if (it == files.end()) throw Error(code::file_not_found, "fake: no file " + path);
        return std::make_unique<Reader>(*this, it->second.contents, path);
    }
    std::string executable_folder() override {
        if (exe_folder_failure) throw Error(*exe_folder_failure, "fake executable_folder failure");
        return exe_folder;
    }

private:
    class Reader final : public InputFile {
    public:
        Reader(FakeFiles& fs, std::shared_ptr<std::string> data, std::string path)
            : fs_(fs), data_(std::move(data)), path_(std::move(path)) { ++fs_.open_readers; }
        ~Reader() override { --fs_.open_readers; fs_.log_.push_back("close:" + path_); }
        std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> out) override {
            if (offset >= data_->size()) return 0;
            std::size_t n = std::min<std::size_t>(out.size(), data_->size() - offset);
            std::memcpy(out.data(), data_->data() + offset, n);
            return n;
        }
    private:
        FakeFiles& fs_;
        std::shared_ptr<std::string> data_;
        std::string path_;
    };
    EventLog& log_;
};

// ---------------------------------------------------------------------------------------------
class FakeShell final : public Shell {
public:
    std::string desktop = "C:\\Users\\utente\\Desktop";
    std::string special_folder(int csidl) override { return csidl == kCsidlDesktop ? desktop : std::string(); }
};

class FakeLocale final : public Locale {
public:
    NumberFormat format;  // default: point and comma, as an English locale
    NumberFormat number_format() override { return format; }
    // Latin-1 is close enough to the ANSI code page for the core's tests.
    std::string ansi_to_utf8(std::string_view ansi) override {
        std::string out;
        for (unsigned char c : ansi) {
            if (c < 0x80) out += static_cast<char>(c);
            else { out += static_cast<char>(0xC0 | (c >> 6)); out += static_cast<char>(0x80 | (c & 0x3F)); }
        }
        return out;
    }
    static NumberFormat italian() { return {",", ".", "3;0"}; }
    static NumberFormat english() { return {".", ",", "3;0"}; }
};

// ---------------------------------------------------------------------------------------------
// The outside components: every creation, call and release goes to the event log.
class FakeComponents final : public Components {
public:
    explicit FakeComponents(EventLog& log) : log_(log) {}

    std::set<std::string> not_installed;            // class names whose creation fails (429)
    std::map<std::string, int> call_failures;       // method name -> code thrown
    // Decoding done by the fakes; identity unless a test sets them.
    std::function<std::string(const std::string&)> decodifica = [](const std::string& s) { return s; };
    std::function<std::string(const std::string&)> decifra = [](const std::string& s) { return s; };

    std::unique_ptr<ComponenteAggiornamento> create_updater() override {
        return create<Updater>("ComponenteAggiornamento");
    }
    std::unique_ptr<Cifratore> create_cifratore() override { return create<Cif>("Cifratore"); }
    std::unique_ptr<Decodificatore> create_decodificatore() override { return create<Dec>("Decodificatore"); }

private:
    template <class T>
    std::unique_ptr<T> create(const std::string& name) {
        if (not_installed.count(name)) {
            log_.push_back("create-failed:" + name);
            throw Error(code::cannot_create_object, "fake: not installed " + name);
        }
        log_.push_back("create:" + name);
        return std::make_unique<T>(*this);
    }
    void fail_if_told(const std::string& method) {
        if (auto f = call_failures.find(method); f != call_failures.end()) throw Error(f->second, "fake " + method);
    }
    struct Updater final : ComponenteAggiornamento {
        explicit Updater(FakeComponents& c) : c_(c) {}
        ~Updater() override { c_.log_.push_back("release:ComponenteAggiornamento"); }
        void CompletaAggiornamento(const std::string& cartella) override {
            c_.log_.push_back("CompletaAggiornamento:" + cartella);
            c_.fail_if_told("CompletaAggiornamento");
        }
        FakeComponents& c_;
    };
    struct Cif final : Cifratore {
        explicit Cif(FakeComponents& c) : c_(c) {}
        ~Cif() override { c_.log_.push_back("release:Cifratore"); }
        void ImpostaChiave(std::string& chiave) override {
            c_.log_.push_back("ImpostaChiave:" + chiave);
            c_.fail_if_told("ImpostaChiave");
        }
        std::string Decifra(std::string& testo) override {
            c_.log_.push_back("Decifra:" + testo);
            c_.fail_if_told("Decifra");
            return c_.decifra(testo);
        }
        FakeComponents& c_;
    };
    struct Dec final : Decodificatore {
        explicit Dec(FakeComponents& c) : c_(c) {}
        ~Dec() override { c_.log_.push_back("release:Decodificatore"); }
        std::string Decodifica(const std::string& testo) override {
            c_.log_.push_back("Decodifica:" + testo);
            c_.fail_if_told("Decodifica");
            return c_.decodifica(testo);
        }
        FakeComponents& c_;
    };
    EventLog& log_;
};

class FakeProcess final : public Process {
public:
    explicit FakeProcess(EventLog& log) : log_(log) {}
    bool another_run = false;  // another run holds the program's lock
    RunFacts run_facts{"AggiornaArchivio (test)", "Test system", false, false, "utente"};
    std::optional<int> exit_code;

    bool claim_single_run() override {
        log_.push_back("lock");
        return !another_run;
    }
    RunFacts facts() override { return run_facts; }
    [[noreturn]] void end_process(int code) override {
        log_.push_back("end");
        exit_code = code;
        throw ProcessEnded{};
    }

private:
    EventLog& log_;
};

// The run's log in memory; `broken` makes it lose every line, as a log folder that cannot be
// written does.
class FakeRunLog final : public RunLog {
public:
    std::vector<std::string> lines;
    bool broken = false;
    void write_line(std::string_view line) override {
        if (!broken) lines.emplace_back(line);
    }
    std::string where() override { return broken ? std::string() : "C:\\Users\\utente\\AppData\\Local\\Aggiorna Archivio\\test.log"; }
    // The whole log as one text, a line each.
    std::string text() const {
        std::string out;
        for (const auto& l : lines) out += l + "\n";
        return out;
    }
};

// All fakes together, sharing one event log.
struct FakePlatform {
    EventLog log;
    FakeRegistry registry{log};
    FakeBoxes boxes{log};
    FakeFiles files{log};
    FakeShell shell;
    FakeLocale locale;
    FakeComponents components{log};
    FakeProcess process{log};
    FakeRunLog run_log;
    Platform platform{registry, boxes, files, shell, locale, components, process, run_log};

    // Events that start with one of the prefixes, in order.
    std::vector<std::string> events(std::initializer_list<std::string_view> prefixes) const {
        std::vector<std::string> out;
        for (const auto& e : log)
            for (auto p : prefixes)
                if (e.rfind(p, 0) == 0) { out.push_back(e); break; }
        return out;
    }
};

}  // namespace aggiorna::testing
