// Mapping between the Windows paths the core keeps and native paths inside a Wine prefix.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace aggiorna::portable {

// The native path of a Windows path ("C:\Programmi\Quintrel4\\Estr.bin", UTF-8) as Wine would
// resolve it in `prefix`:
// - the drive "X:" (either case) is $prefix/dosdevices/x:, taken through its link; Z: with no
//   such entry is "/", Wine's default;
// - "\" and "/" both separate, repeated separators count as one, "." is dropped and ".." goes up
//   lexically but never above the drive's root;
// - each component is the existing entry of that exact name, else an existing entry whose name
//   matches ignoring case (ASCII and Latin letters; several matches give the smallest name in
//   byte order), else the name as given, so a file yet to be created keeps its spelling.
// nullopt when the path has no drive letter (relative, UNC) or names a drive that the prefix does
// not have; callers treat that as a path that does not exist.
std::optional<std::filesystem::path> map_windows_path(const std::filesystem::path& prefix,
                                                      std::string_view windows_path);

// The Windows path of a native path: its canonical form expressed through the prefix drive whose
// canonical target is the longest leading part of it ("C:\users\x", "C:\" for a drive's root),
// else "Z:" followed by the whole path. map_windows_path() of the result gives the canonical path
// back as long as the drives stay as they are.
std::string to_windows_path(const std::filesystem::path& prefix, const std::filesystem::path& native);

// Whether two file names are equal ignoring case as Windows would compare them, for ASCII and the
// Latin-1 and Latin Extended-A letters of UTF-8 names; bytes that are not UTF-8 compare exactly.
bool names_equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace aggiorna::portable
