// The interfaces through which the core reaches the operating system and the outside components.
//
// The core (update/, settings/) includes this header and nothing platform-specific; each backend
// (platform/portable/, platform/windows/) implements it and the build picks one. Text is UTF-8
// everywhere above this boundary; the only exception is Registry::query_value, which delivers the
// raw bytes a Windows program would receive, strings in the ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aggiorna {

// Run-time error codes, as the host's tools number them.
namespace code {
inline constexpr int overflow = 6;
inline constexpr int subscript_out_of_range = 9;
inline constexpr int type_mismatch = 13;
inline constexpr int bad_file_name_or_number = 52;
inline constexpr int file_not_found = 53;
inline constexpr int disk_full = 61;
inline constexpr int input_past_end_of_file = 62;
inline constexpr int bad_record_number = 63;
inline constexpr int permission_denied = 70;
inline constexpr int path_file_access = 75;  // also: destination held open by a running host
inline constexpr int path_not_found = 76;
inline constexpr int object_not_set = 91;
inline constexpr int cannot_create_object = 429;
}  // namespace code

// Where a failed copy went wrong, where the backend can tell: on the delivered file (missing,
// still being written, changed while it was copied) or on the destination's side (its folder, the
// temporary beside it, the file replaced).
enum class Side { unknown, source, destination };

// The one exception type that crosses the core: a numeric run-time code, plus a detail text
// (the OS call, its native error and its meaning, the path) kept for the run's log and tests.
class Error : public std::runtime_error {
public:
    explicit Error(int code, const std::string& detail = {}, std::vector<std::string> holders = {},
                   bool holders_are_services = false)
        : std::runtime_error(detail.empty() ? "run-time error " + std::to_string(code) : detail),
          code_(code),
          holders_(std::move(holders)),
          holders_are_services_(holders_are_services) {}
    Error(int code, const std::string& detail, Side side) : Error(code, detail) { side_ = side; }
    int code() const noexcept { return code_; }
    // With code 75 from a copy or a check: the programs that hold the file, as the system names
    // them for the user, when none of them runs from the host's folder (a backup or sync
    // program, a scanner, a preview). Empty when the host holds the file or nobody could be named.
    const std::vector<std::string>& holders() const noexcept { return holders_; }
    // Every holder named is a service or a critical process of the system: nothing the user can
    // close, only wait for.
    bool holders_are_services() const noexcept { return holders_are_services_; }
    Side side() const noexcept { return side_; }

private:
    int code_;
    std::vector<std::string> holders_;
    bool holders_are_services_ = false;
    Side side_ = Side::unknown;
};

// ---------------------------------------------------------------------------------------------
// Registry.
using RegKey = std::uintptr_t;  // 0 means "no key"
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;

namespace reg_access {
inline constexpr std::uint32_t query_value = 0x0001;
inline constexpr std::uint32_t set_value = 0x0002;
inline constexpr std::uint32_t create_sub_key = 0x0004;
inline constexpr std::uint32_t enumerate_sub_keys = 0x0008;
inline constexpr std::uint32_t notify = 0x0010;
inline constexpr std::uint32_t create_link = 0x0020;
inline constexpr std::uint32_t wow64_64key = 0x0100;
inline constexpr std::uint32_t wow64_32key = 0x0200;
inline constexpr std::uint32_t read = 0x20019;  // KEY_READ: standard read, query, enumerate, notify
}  // namespace reg_access

class Registry {
public:
    virtual ~Registry() = default;
    // Opens the subkey `name` (one path component) of `parent` (a root or a key this object
    // returned). Returns 0 when the key does not exist or the access asked for is refused.
    virtual RegKey open_key(RegKey parent, std::string_view name, std::uint32_t access) = 0;
    // Copies the data of value `name` ("" is the default value) into `area`: strings converted to
    // the ANSI code page with their terminating NUL, other types as stored. On success `length`
    // holds the bytes written. Returns false, with `area` untouched, when the value is missing or
    // does not fit in `area`.
    virtual bool query_value(RegKey key, std::string_view name, std::span<std::uint8_t> area,
                             std::uint32_t& length) = 0;
    // A string value (REG_SZ or REG_EXPAND_SZ, as stored) as UTF-8; nullopt when the value is
    // missing or is not a string.
    virtual std::optional<std::string> query_string(RegKey key, std::string_view name) = 0;
    // A string value as a Unicode program reads a path from it: REG_SZ as stored, REG_EXPAND_SZ
    // with its %VARIABLES% expanded as Windows expands them for this user (an unknown variable
    // stays as written), read in UTF-16 so that no character is mapped onto another. nullopt when
    // the value is missing or is not one of these two types.
    virtual std::optional<std::string> query_path(RegKey key, std::string_view name) = 0;
    // Closes a key returned by open_key. Roots are never closed.
    virtual void close_key(RegKey key) = 0;
};

// ---------------------------------------------------------------------------------------------
// Message boxes.
namespace box_style {
inline constexpr std::uint32_t error = 0x10;         // stop icon, OK
inline constexpr std::uint32_t information = 0x40;   // information icon, OK
inline constexpr std::uint32_t confirmation = 0x41;  // information icon, OK and Cancel
}  // namespace box_style
namespace box_answer {
inline constexpr int ok = 1;
inline constexpr int cancel = 2;  // also Esc, or the box closed
}  // namespace box_answer

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the button chosen.
    virtual int message_box(std::string_view text, std::uint32_t style, std::string_view caption) = 0;
};

// ---------------------------------------------------------------------------------------------
// Files. Paths are Windows paths exactly as the core formed them ("C:\Programmi\Quintrel4\Estr.bin").
namespace file_attribute {
inline constexpr std::uint32_t readonly = 0x01;
inline constexpr std::uint32_t hidden = 0x02;
inline constexpr std::uint32_t system = 0x04;
inline constexpr std::uint32_t directory = 0x10;
inline constexpr std::uint32_t archive = 0x20;
inline constexpr std::uint32_t normal = 0x80;
}  // namespace file_attribute

// A file open for reading at explicit offsets. Closing is destruction.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Reads up to out.size() bytes at `offset`; returns the number read, fewer only at the end of
    // the file. Throws Error on an I/O failure.
    virtual std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// What a file is, for the checks of the delivered files and the run's log.
struct FileFacts {
    bool directory = false;
    bool regular = false;      // a plain file: neither a folder nor a pipe, device or socket
    std::uint64_t size = 0;    // regular files only
    std::string modified;      // last write, local time, "YYYY-MM-DD HH:MM:SS"; empty when unknown
};

// What one copy did, for the run's log.
struct CopyReport {
    std::uint64_t bytes = 0;
    std::string sha256;                // of the bytes copied, 64 lowercase hex digits
    // Each file written, by the path where its bytes really are: the destination, or the place
    // in the user's VirtualStore where Windows put it for a virtualized run, then any virtual copy
    // of the user's replaced as well.
    std::vector<std::string> landed;
    // The destination lies where the user at the desktop, who is not this run's user, may keep a
    // virtual copy that a host running for them reads, and their folders could not be had: that
    // copy, if there is one, was not updated.
    bool user_copy_unknown = false;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Copies the whole of `source` to `destination`, creating it or replacing it in one step: the
    // destination is never seen partly written, and no temporary file is left behind on failure.
    // A replaced destination keeps its permissions and its hidden and system attributes.
    // Throws Error: 53 source missing, 76 folder missing, 70 access denied, 61 disk full,
    // 75 destination held open by another program (the host running; Error::holders names the
    // programs when they are others). Error::side says where, when the backend can tell.
    virtual CopyReport copy_file(const std::string& source, const std::string& destination) = 0;
    // Where the user has a virtual copy of `path` (UAC file virtualization: a host that runs
    // virtualized reads that copy instead), replaces it with `path` itself, as copy_file does.
    // Nothing to do (an empty report) where there is none, or when this run is itself
    // virtualized. Throws as copy_file.
    virtual CopyReport refresh_virtual_copy(const std::string& path) = 0;
    // Whether `path` could be replaced now, without writing anything: nothing throws for a
    // missing file. Throws as copy_file would for its destination: 75 when another program holds
    // it after the wait for brief holds (Error::holders as there), 70 when it is read-only or is
    // not a file (a folder).
    virtual void check_replaceable(const std::string& path) = 0;
    // Whether a host installed in `folder` would not see what this run writes there: this run's
    // writes to the folder would land in the user's VirtualStore while the host runs as
    // administrator, and so reads the real files. Never throws.
    virtual bool host_runs_elevated(const std::string& folder) = 0;
    // The file's attribute bits (file_attribute::*), or nullopt when nothing of that name exists
    // (a missing folder on the way included).
    virtual std::optional<std::uint32_t> attributes(const std::string& path) = 0;
    // What stands at `path` (never the user's virtual copy: for the delivered files), or nullopt
    // when nothing of that name exists. Never throws.
    virtual std::optional<FileFacts> file_facts(const std::string& path) = 0;
    // The SHA-256 of a file's contents, 64 lowercase hex digits. Throws Error as open_for_reading.
    virtual std::string sha256(const std::string& path) = 0;
    // Opens an existing file for reading; other programs may still read, write or replace it.
    // Throws Error with the file system's code when it cannot be opened.
    virtual std::unique_ptr<InputFile> open_for_reading(const std::string& path) = 0;
    // The folder that holds the running program's executable, without a trailing backslash.
    // Throws Error (76) when that folder has no Windows path.
    virtual std::string executable_folder() = 0;
};

// ---------------------------------------------------------------------------------------------
// Shell and locale.
inline constexpr int kCsidlDesktop = 0;

class Shell {
public:
    virtual ~Shell() = default;
    // The file-system path of a special folder, or empty text when the platform gives none.
    // Never throws.
    virtual std::string special_folder(int csidl) = 0;
};

struct NumberFormat {
    std::string decimal_separator = ".";   // UTF-8, normally one character
    std::string thousands_separator = ","; // UTF-8; may be empty
    std::string grouping = "3;0";          // Windows LOCALE_SGROUPING form: "3;0", "3;2;0", "0"
};

class Locale {
public:
    virtual ~Locale() = default;
    // The user's number format.
    virtual NumberFormat number_format() = 0;
    // Converts text in the machine's ANSI code page to UTF-8.
    virtual std::string ansi_to_utf8(std::string_view ansi) = 0;
};

// ---------------------------------------------------------------------------------------------
// Outside components. Release is destruction. Every method throws Error on a failure status.
class ComponenteAggiornamento {
public:
    virtual ~ComponenteAggiornamento() = default;
    // Completes a version 4 update whose files were placed in `cartella`.
    virtual void CompletaAggiornamento(const std::string& cartella) = 0;
};

class Cifratore {
public:
    virtual ~Cifratore() = default;
    virtual void ImpostaChiave(std::string& chiave) = 0;
    virtual std::string Decifra(std::string& testo) = 0;
};

class Decodificatore {
public:
    virtual ~Decodificatore() = default;
    virtual std::string Decodifica(const std::string& testo) = 0;
};

class Components {
public:
    virtual ~Components() = default;
    // Each creation throws Error when the object cannot be made (class not installed: 429).
    virtual std::unique_ptr<ComponenteAggiornamento> create_updater() = 0;
    virtual std::unique_ptr<Cifratore> create_cifratore() = 0;
    virtual std::unique_ptr<Decodificatore> create_decodificatore() = 0;
};

// ---------------------------------------------------------------------------------------------
// Process and run log.

// What the platform knows of this run, for the head of the run's log and the choice of a message.
struct RunFacts {
    std::string program;               // the program and its version: "AggiornaArchivio 1.1.0 (32-bit)"
    std::string system;                // "Windows 10.0 build 19045, 64-bit", "Linux 6.1.0 x86_64"
    std::optional<bool> elevated;      // run as administrator; nullopt where the system has no UAC
    std::optional<bool> virtualized;   // UAC file virtualization; nullopt where there is none
    std::string user;                  // the account the run has, and the desktop's user when another
};

class Process {
public:
    virtual ~Process() = default;
    // Takes the one lock of this program on the machine, held until the process ends, however it
    // ends (a killed run does not block the next). False when another run holds it.
    virtual bool claim_single_run() = 0;
    virtual RunFacts facts() = 0;
    // Ends the process at once with `exit_code`: no destructor, no further step of the run.
    [[noreturn]] virtual void end_process(int exit_code) = 0;
};

// Where support reads what a run did: one text file per run, kept beside the last runs'. The
// lines are the core's; the backend only keeps them.
class RunLog {
public:
    virtual ~RunLog() = default;
    // Appends one line (UTF-8, without its line end). Never throws, and never changes the run: a
    // log that cannot be written loses the line.
    virtual void write_line(std::string_view line) = 0;
    // The file this run's log is written to; empty when there is none.
    virtual std::string where() = 0;
};

// Everything the core calls, handed down from the entry point; never a global.
struct Platform {
    Registry& registry;
    MessageBoxes& boxes;
    FileSystem& files;
    Shell& shell;
    Locale& locale;
    Components& components;
    Process& process;
    RunLog& log;
};

}  // namespace aggiorna
