// A small Windows helper for the end-to-end scenarios: stands in for a running host by holding a
// file open with no sharing, stands in for a download still writing a file, marks a file hidden,
// or tells whether its user may write a file.
//
//   e2e_holder hold <file> <ready-file>   opens <file> for reading and writing with share mode 0,
//                                         then creates <ready-file> and waits until a file named
//                                         <ready-file>.stop appears (or 60 s pass, or it is killed)
//   e2e_holder write <file> <ready-file>  the same, open for writing and sharing everything, as a
//                                         download or an extraction that is not done
//   e2e_holder copy <from> <to>           copies a file, as a host does when it saves its archive
//                                         (run virtualized, Windows puts the copy in the VirtualStore)
//   e2e_holder hide <file>                adds the hidden attribute to <file>
//   e2e_holder open-write <file>          opens <file> for writing (sharing everything), as the host
//                                         opens its archive to save it, and closes it: started as a
//                                         user, it says whether that user may
//
// Exit status 0 on success, 1 when the file cannot be opened or changed, 2 on wrong usage.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int hold(const wchar_t* file, const wchar_t* ready, bool writing) {
    HANDLE held = writing ? CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "e2e_holder: cannot open the file, error %lu\n", GetLastError());
        return 1;
    }
    HANDLE marker = CreateFileW(ready, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "e2e_holder: cannot create the ready file, error %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(marker);
    const std::wstring stop = std::wstring(ready) + L".stop";
    // Bounded, so that a runner that died cannot leave the file held for ever.
    for (int i = 0; i < 600 && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(100);
    }
    CloseHandle(held);
    return 0;
}

int hide(const wchar_t* file) {
    const DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(file, attributes | FILE_ATTRIBUTE_HIDDEN)) {
        std::fprintf(stderr, "e2e_holder: cannot hide the file, error %lu\n", GetLastError());
        return 1;
    }
    return 0;
}

int open_for_writing(const wchar_t* file) {
    HANDLE opened = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "e2e_holder: cannot open the file for writing, error %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(opened);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if ((mode == L"hold" || mode == L"write") && argc == 4) return hold(argv[2], argv[3], mode == L"write");
    if (mode == L"hide" && argc == 3) return hide(argv[2]);
    if (mode == L"copy" && argc == 4) return CopyFileW(argv[2], argv[3], FALSE) ? 0 : 1;
    if (mode == L"open-write" && argc == 3) return open_for_writing(argv[2]);
    std::fprintf(stderr,
                 "usage: e2e_holder hold|write <file> <ready-file> | hide <file> | copy <from> <to> | open-write <file>\n");
    return 2;
}
