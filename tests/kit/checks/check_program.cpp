// Small Google Test programs for the kit runner's own checks, one behaviour each, chosen when it is
// built: all pass (one test skipped), a test fails, a test crashes, a test never ends, all pass but
// the program ends with status 1, and one that changes what the kit's journal covers, then waits
// to be ended with the kit.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#if defined(KIT_CHECK_CHANGES)
namespace {

std::wstring system_drive() {
    wchar_t drive[8] = {};
    const DWORD length = GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    return length == 0 || length >= 8 ? L"C:" : drive;
}

void set(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

}  // namespace
#endif

TEST(Controllo, Passa) { EXPECT_EQ(2 + 2, 4); }

#if defined(KIT_CHECK_SKIPS)
TEST(Controllo, Saltato) { GTEST_SKIP() << "a test that says it cannot run here"; }
#endif

#if defined(KIT_CHECK_FAILS)
TEST(Controllo, Fallisce) { EXPECT_EQ(2 + 2, 5); }
#endif

#if defined(KIT_CHECK_CRASHES)
// An address the compiler cannot know to be invalid: the write is a real access violation.
volatile std::uintptr_t nowhere = 16;
TEST(Controllo, SiArresta) { *reinterpret_cast<volatile int*>(nowhere) = 1; }
#endif

#if defined(KIT_CHECK_HANGS)
TEST(Controllo, NonFinisce) { Sleep(INFINITE); }
#endif

#if defined(KIT_CHECK_CHANGES)
// What a test program of the kit, or a scenario, changes: the host's key (and its vendor's, made
// with it), a class registered machine-wide, a compatibility setting changed and one added, a
// folder. Then it waits: the check ends the kit while it runs.
TEST(Controllo, CambiaEAttende) {
    const std::wstring root = system_drive() + L"\\AggiornaKit";
    set(HKEY_LOCAL_MACHINE, L"Software\\Quibex\\Quintrel! 4", KEY_WOW64_32KEY, L"InstallPath", root + L"\\Programmi");
    set(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{438870EE-520F-11D5-BDD5-004033A00C30}\\InprocServer32", 0,
        nullptr, root + L"\\prova\\e2e_componente.dll");
    const wchar_t* layers = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
    set(HKEY_CURRENT_USER, layers, 0, L"C:\\altro\\vecchio.exe", L"~ RUNASADMIN");
    set(HKEY_CURRENT_USER, layers, 0, (root + L"\\nuovo.exe").c_str(), L"~ RUNASADMIN");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    const HANDLE ready = CreateFileW((root + L"\\pronto").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(ready, INVALID_HANDLE_VALUE);
    CloseHandle(ready);
    Sleep(INFINITE);
}
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
#if defined(KIT_CHECK_LIES)
    // Every test passed, and yet the program says it failed: its exit status must decide.
    return status == 0 ? 1 : status;
#else
    return status;
#endif
}
