// The backend's file tests' fixtures: a fresh folder under %TEMP%, files written and read through
// Windows, holders, a pipe as a source, and a host folder with the user's VirtualStore.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/windows/files.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows::file_tests {


// A fresh folder under %TEMP% with a name outside ASCII, removed with its files after the test.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
        folder_ = to_utf8(temp) + "Aggiorna Città € " + std::to_string(GetCurrentProcessId()) +
                  "-" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(wide(folder_).c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::string& name : list()) {
            const std::wstring path = wide(folder_ + "\\" + name);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
        }
        RemoveDirectoryW(wide(folder_).c_str());
    }

    static std::wstring wide(const std::string& utf8) { return to_wide(utf8, 52); }
    std::string path(const std::string& name) const { return folder_ + "\\" + name; }

    void write(const std::string& name, const std::string& bytes) {
        HANDLE file = CreateFileW(wide(path(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, bytes.size());
    }
    std::string read(const std::string& name) {
        HANDLE file = CreateFileW(wide(path(name)).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "<missing>";
        std::string bytes;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            bytes.append(buffer, got);
        }
        CloseHandle(file);
        return bytes;
    }
    // The names in the folder, hidden ones and leftovers of the copy included.
    std::vector<std::string> list() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide(folder_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(to_utf8(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }
    int copy_error(const std::string& source, const std::string& destination) {
        try {
            files_.copy_file(source, destination);
        } catch (const Error& error) {
            return error.code();
        }
        return 0;
    }

    // A handle on a file of the folder, as another program would hold it; null when refused.
    HANDLE hold(const std::string& name, DWORD share) {
        const HANDLE held = CreateFileW(wide(path(name)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
        return held == INVALID_HANDLE_VALUE ? nullptr : held;
    }
    // Whether a name of the folder is a copy's temporary for one of the destinations the tests use.
    static bool is_temporary(const std::string& name) {
        for (const char* destination : {"Dest.bin", "Estr.bi_", "Estr.bin", "bl.bin", "Nuovo.bin", "Copia.bin"}) {
            if (is_temporary_name(name, destination)) return true;
        }
        return false;
    }
    void expect_no_temporary() {
        for (const std::string& name : list()) EXPECT_FALSE(is_temporary(name)) << name;
    }

    std::string folder_;
    WindowsFileSystem files_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A named pipe as the source of a copy: its reader gets what was written, then waits for more,
// and fails (ERROR_BROKEN_PIPE) once the pipe is closed. Every wait is bounded.
class PipeSource {
public:
    explicit PipeSource(const std::string& tag)
        : name_(L"\\\\.\\pipe\\aggiorna-" + std::wstring(tag.begin(), tag.end()) + L"-" +
                std::to_wstring(GetCurrentProcessId())),
          pipe_(CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0, nullptr)),
          event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~PipeSource() {
        close();
        CloseHandle(event_);
    }
    bool valid() const { return pipe_ != INVALID_HANDLE_VALUE; }
    std::string path() const { return to_utf8(name_); }
    // Waits up to `ms` for the reader to open the pipe, then writes `bytes` to it.
    bool connect_and_write(const std::string& bytes, DWORD ms) {
        OVERLAPPED at = {};
        at.hEvent = event_;
        if (!ConnectNamedPipe(pipe_, &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING && WaitForSingleObject(event_, ms) != WAIT_OBJECT_0) {
                CancelIo(pipe_);
                return false;
            }
            if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED) return false;
        }
        ResetEvent(event_);
        OVERLAPPED write_at = {};
        write_at.hEvent = event_;
        DWORD put = 0;
        if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &write_at) &&
            GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        if (WaitForSingleObject(event_, ms) != WAIT_OBJECT_0) {
            CancelIo(pipe_);
            return false;
        }
        return GetOverlappedResult(pipe_, &write_at, &put, FALSE) && put == bytes.size();
    }
    void close() {
        if (valid()) CloseHandle(std::exchange(pipe_, INVALID_HANDLE_VALUE));
    }

private:
    std::wstring name_;
    HANDLE pipe_;
    HANDLE event_;
};

class VirtualStoreTest : public FilesTest {
protected:
    // The test folder holds a protected folder "Programmi" with the host, and the user's store
    // "VirtualStore", where the host's virtual folder is the host's path without its drive.
    void SetUp() override {
        FilesTest::SetUp();
        for (const char* name : {"Programmi", "Programmi\\Quintrel4", "VirtualStore"}) {
            ASSERT_TRUE(CreateDirectoryW(wide(path(name)).c_str(), nullptr)) << name;
        }
        store_ = VirtualStore{path("VirtualStore"), {path("Programmi")}};
        virtual_host_ = store_.root + "\\" + path("Programmi\\Quintrel4").substr(3);
        for (std::size_t at = store_.root.size() + 1; at != std::string::npos;
             at = virtual_host_.find('\\', at + 1)) {
            CreateDirectoryW(wide(virtual_host_.substr(0, at)).c_str(), nullptr);
        }
        ASSERT_TRUE(CreateDirectoryW(wide(virtual_host_).c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::string& at : {virtual_host_, path("Programmi\\Quintrel4")}) {
            for (const char* name : {"Estr.bin", "Dati.lib", "bl.bin"}) {
                const std::wstring file = wide(at + "\\" + name);
                SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(file.c_str());
            }
        }
        for (std::string at = virtual_host_; at.size() >= store_.root.size();
             at = at.substr(0, at.find_last_of('\\'))) {
            RemoveDirectoryW(wide(at).c_str());
        }
        RemoveDirectoryW(wide(path("Programmi\\Quintrel4")).c_str());
        RemoveDirectoryW(wide(path("Programmi")).c_str());
        FilesTest::TearDown();
    }
    void put(const std::string& full, const std::string& bytes) {
        HANDLE file = CreateFileW(wide(full).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << full;
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::string get(const std::string& full) { return read(full.substr(folder_.size() + 1)); }

    VirtualStore store_;
    std::string virtual_host_;
};

}  // namespace aggiorna::windows::file_tests
