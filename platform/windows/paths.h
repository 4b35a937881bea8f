// Windows paths compared as Windows compares them: either separator, case, short names.
#pragma once

#include <string>
#include <string_view>

namespace aggiorna::windows {

// Backslashes only, none repeated and none at the end.
std::wstring with_plain_separators(std::wstring_view path);
// Whether `path` is `folder` or lies below it. Both are taken in their long form where they
// exist ("C:\PROGRA~1" is "C:\Program Files"), with plain separators, without regard to case.
bool lies_in(std::wstring_view path, std::wstring_view folder);
// The form of a path that CreateFileW and DeleteFileW accept beyond MAX_PATH characters: the
// full path after "\\?\" (or "\\?\UNC\" for a share). Shorter paths stay as they are.
std::wstring api_path(const std::wstring& path);
// The folder that holds `path`: the text before its last separator ("C:\" for "C:\a.exe").
std::wstring folder_of(std::wstring_view path);

}  // namespace aggiorna::windows
