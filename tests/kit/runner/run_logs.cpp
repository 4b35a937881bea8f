// The run logs' folder listed with FindFirstFileW, its files copied, removed and put back.
#include "run_logs.h"

#include <algorithm>

#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "system_state.h"

namespace kit {
namespace {

using aggiorna::windows::to_utf8;

bool noted_name(const RunLogFolder& noted, const std::wstring& name) {
    return std::any_of(noted.names.begin(), noted.names.end(), [&](const std::wstring& n) { return same_path(n, name); });
}

}  // namespace

std::wstring copies_folder(const RunLogFolder& noted) { return noted.folder + L"\\AggiornaKit-copie"; }

bool is_run_log(const std::wstring& name) {
    const std::wstring prefix = L"AggiornaArchivio-", suffix = L".log";
    return name.size() > prefix.size() + suffix.size() && same_path(name.substr(0, prefix.size()), prefix) &&
           same_path(name.substr(name.size() - suffix.size()), suffix);
}

std::vector<std::wstring> run_logs_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\AggiornaArchivio-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && is_run_log(found.cFileName)) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

RunLogFolder note_run_log_folder(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return {folder, existed, existed ? run_logs_in(folder) : std::vector<std::wstring>{}};
}

bool keep_copies(const RunLogFolder& noted) {
    if (noted.names.empty()) return true;
    if (!make_folders(copies_folder(noted))) return false;
    bool ok = true;
    for (const std::wstring& name : noted.names) {
        ok = CopyFileW((noted.folder + L"\\" + name).c_str(), (copies_folder(noted) + L"\\" + name).c_str(), FALSE) && ok;
    }
    return ok;
}

std::vector<std::string> put_back_run_logs(const RunLogFolder& noted, bool last) {
    std::vector<std::string> problems;
    if (!noted.existed) {
        if (!remove_tree(noted.folder)) problems.push_back("the folder " + to_utf8(noted.folder) + " cannot be removed");
        return problems;
    }
    for (const std::wstring& name : run_logs_in(noted.folder)) {
        if (!noted_name(noted, name) && !DeleteFileW((noted.folder + L"\\" + name).c_str())) {
            problems.push_back("the kit's run log " + to_utf8(noted.folder + L"\\" + name) + " cannot be removed");
        }
    }
    for (const std::wstring& name : noted.names) {
        const std::wstring path = noted.folder + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        if (!CopyFileW((copies_folder(noted) + L"\\" + name).c_str(), path.c_str(), TRUE)) {
            problems.push_back("the user's run log " + to_utf8(path) + " was removed and cannot be put back");
        }
    }
    if (last && problems.empty() && !remove_tree(copies_folder(noted))) {
        problems.push_back("the folder " + to_utf8(copies_folder(noted)) + " cannot be removed");
    }
    return problems;
}

}  // namespace kit
