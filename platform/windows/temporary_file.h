// A copy's temporary file beside its destination: its name, its life (deleted unless it becomes
// the destination), and the removal of those that cut-off runs left.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows/handles.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {

// The name of a copy's temporary file beside `destination_name`: that name and ".~" with six hex
// digits of `number`, so that a destination that fits the path length limit nearly always has a
// temporary that fits too.
std::string temporary_name(const std::string& destination_name, unsigned number);
// Whether `name` is one that this program makes for a copy to `destination_name`: that name
// (compared as Windows compares names) and ".~" with six lowercase hex digits, or the form of
// earlier versions (".~AggiornaArchivio-<pid>-<n>.tmp"), which named no destination. No other
// file: "Appunti.~decade" and "foto.~123456" are the user's.
bool is_temporary_name(std::string_view name, std::string_view destination_name);

// Removes from `folder` (ending in a separator) the temporaries of copies to `destination_name`
// that cut-off runs left (a power loss; a killed run leaves none where the mark is used).
// Deleting one that another copy still holds open fails (a sharing violation), so only those
// nobody holds go.
void remove_stale_temporaries(const std::string& folder, const std::string& destination_name);

// The temporary copy, open with DELETE access and no sharing. Where the volume keeps the mark
// reliably, it is marked for deletion as soon as it exists, so that Windows removes it when its
// handle closes: on any failure, and when the process is killed in the middle of the copy.
// Elsewhere, or where the file system refuses the mark, it is deleted by name after the handle
// is closed. Only a successful replace() lets it live on, under its new name.
class TemporaryFile {
public:
    TemporaryFile(ScopedHandle handle, std::wstring path, bool use_mark);
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();
    HANDLE get() const { return handle_.get(); }
    const std::wstring& path() const { return path_; }

    // Clears the mark and renames the file over `destination` (a long path) in one step, through
    // its own handle. Returns the Windows error, ERROR_SUCCESS once the file is the destination;
    // on a failure the file is marked for deletion again.
    DWORD replace(const std::wstring& destination);

private:
    ScopedHandle handle_;
    std::wstring path_;
    bool marked_ = false;
    bool kept_ = false;
};

// Creates the temporary file beside `destination` under a fresh name, for writing, asking
// WRITE_DAC only when its DACL is to be set (`with_write_dac`). Throws as a failure on the
// temporary (never 75).
TemporaryFile create_temporary(const std::string& destination, bool use_mark, bool with_write_dac);

}  // namespace aggiorna::windows
