// Program manifests read with LoadLibraryExW (as an image resource) and FindResourceW.
#include "platform/windows/program_manifest.h"

#include <algorithm>
#include <cctype>

#include "platform/windows/handles.h"
#include "platform/windows/paths.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The value of attribute `name` inside one element's text, quoted with ' or ".
std::string_view attribute(std::string_view element, std::string_view name) {
    for (std::size_t at = element.find(name); at != std::string_view::npos; at = element.find(name, at + 1)) {
        const bool starts_word = at > 0 && std::isspace(static_cast<unsigned char>(element[at - 1]));
        std::size_t next = at + name.size();
        while (next < element.size() && std::isspace(static_cast<unsigned char>(element[next]))) ++next;
        if (!starts_word || next >= element.size() || element[next] != '=') continue;
        ++next;
        while (next < element.size() && std::isspace(static_cast<unsigned char>(element[next]))) ++next;
        if (next >= element.size() || (element[next] != '"' && element[next] != '\'')) continue;
        const std::size_t close = element.find(element[next], next + 1);
        if (close == std::string_view::npos) return {};
        return element.substr(next + 1, close - next - 1);
    }
    return {};
}

}  // namespace

bool manifest_asks_for_administrator(std::string_view manifest) {
    // The element may carry a namespace prefix ("ms_asmv2:requestedExecutionLevel").
    constexpr std::string_view kElement = "requestedExecutionLevel";
    for (std::size_t at = manifest.find(kElement); at != std::string_view::npos;
         at = manifest.find(kElement, at + 1)) {
        const std::size_t open = manifest.rfind('<', at);
        if (open == std::string_view::npos || manifest.substr(open + 1, at - open - 1).find_first_of("<> \t\r\n/") !=
                                                   std::string_view::npos) {
            continue;
        }
        const std::size_t after = at + kElement.size();
        if (after >= manifest.size() || manifest.substr(after, 1).find_first_of(" \t\r\n/>") == std::string_view::npos) {
            continue;
        }
        const std::size_t end = manifest.find('>', at);
        const std::string_view element = manifest.substr(at + kElement.size(), end == std::string_view::npos
                                                                                    ? std::string_view::npos
                                                                                    : end - at - kElement.size());
        const std::string_view level = attribute(element, "level");
        return same_ignoring_case(level, "requireAdministrator") || same_ignoring_case(level, "highestAvailable");
    }
    return false;
}

std::string program_manifest(const std::wstring& program) try {
    const ScopedLibrary image(LoadLibraryExW(api_path(program).c_str(), nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!image.valid()) return {};
    const HRSRC found = FindResourceW(image.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    if (found == nullptr) return {};
    const DWORD size = SizeofResource(image.get(), found);
    const HGLOBAL loaded = LoadResource(image.get(), found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return {};
    std::string text(static_cast<const char*>(bytes), size);
    // Manifests are UTF-8, some with a byte order mark; a UTF-16 one is converted.
    if (text.starts_with("\xEF\xBB\xBF")) return text.substr(3);
    if (text.starts_with("\xFF\xFE")) {
        return to_utf8(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data() + 2), (text.size() - 2) / 2));
    }
    return text;
} catch (...) {
    return {};
}

bool folder_has_program_with_administrator_manifest(const std::wstring& folder) try {
    const std::wstring base = with_plain_separators(folder) + L"\\";
    WIN32_FIND_DATAW found;
    const ScopedFind search(FindFirstFileW(api_path(base + L"*.exe").c_str(), &found));
    if (!search.valid()) return false;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (manifest_asks_for_administrator(program_manifest(base + found.cFileName))) return true;
    } while (FindNextFileW(search.get(), &found));
    return false;
} catch (...) {
    return false;
}

}  // namespace aggiorna::windows
