// RAII owners for the Windows resources the backend holds: handles, keys, libraries, searches,
// LocalAlloc'd memory, COM pointers, BSTRs.
#pragma once

#include <utility>

#include "platform/windows/win.h"

namespace aggiorna::windows {

// A kernel handle from CreateFileW and the like; INVALID_HANDLE_VALUE and null mean none.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { close(); }

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    // Closes now; returns false when CloseHandle reported a failure.
    bool close() {
        const bool ok = !valid() || CloseHandle(handle_) != 0;
        handle_ = nullptr;
        return ok;
    }

private:
    HANDLE handle_ = nullptr;
};

// An owner of one resource with a close function of its own: `Traits::invalid()` is "none",
// `Traits::close(value)` releases it.
template <typename Traits>
class ScopedResource {
public:
    using Value = typename Traits::Value;
    ScopedResource() = default;
    explicit ScopedResource(Value value) : value_(value) {}
    ScopedResource(ScopedResource&& other) noexcept : value_(std::exchange(other.value_, Traits::invalid())) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Traits::invalid());
        }
        return *this;
    }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;
    ~ScopedResource() { reset(); }

    bool valid() const { return value_ != Traits::invalid(); }
    Value get() const { return value_; }
    // For an out parameter: releases what was held first.
    Value* put() {
        reset();
        return &value_;
    }
    void reset() {
        if (valid()) Traits::close(std::exchange(value_, Traits::invalid()));
    }

private:
    Value value_ = Traits::invalid();
};

struct KeyTraits {
    using Value = HKEY;
    static HKEY invalid() { return nullptr; }
    static void close(HKEY key) { RegCloseKey(key); }
};
// A registry key from RegOpenKeyExW or RegCreateKeyExW.
using ScopedKey = ScopedResource<KeyTraits>;

struct LibraryTraits {
    using Value = HMODULE;
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE module) { FreeLibrary(module); }
};
// A DLL (or a program file loaded as data) from LoadLibraryExW.
using ScopedLibrary = ScopedResource<LibraryTraits>;

struct FindTraits {
    using Value = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE search) { FindClose(search); }
};
// A directory search from FindFirstFileW.
using ScopedFind = ScopedResource<FindTraits>;

struct LocalTraits {
    using Value = HLOCAL;
    static HLOCAL invalid() { return nullptr; }
    static void close(HLOCAL memory) { LocalFree(memory); }
};
// Memory the system allocated for the caller with LocalAlloc (security descriptors, SID texts,
// message texts).
using ScopedLocal = ScopedResource<LocalTraits>;

// One counted reference to a COM object, released at the end of its scope.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For the out parameter of CoCreateInstance and QueryInterface; releases what was held.
    void** put_void() {
        reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    void reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR owned by this scope and freed with SysFreeString.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR owned) : bstr_(owned) {}
    Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(bstr_);
            bstr_ = std::exchange(other.bstr_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(bstr_); }

    BSTR get() const { return bstr_; }
    // For a [out] or [in, out] BSTR*: the callee may free the old string and store a new one.
    BSTR* address() { return &bstr_; }
    // For a [out] BSTR*: frees what was held first.
    BSTR* put() {
        SysFreeString(std::exchange(bstr_, nullptr));
        return &bstr_;
    }

private:
    BSTR bstr_ = nullptr;
};

}  // namespace aggiorna::windows
