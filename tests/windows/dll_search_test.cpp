// The DLL search path around a component's creation: the registered server's folder as COM reads
// it, and a server that imports a private DLL from its own folder.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/com_interfaces.h"
#include "platform/windows/components.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/files.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

// A class's InprocServer32 key, written machine-wide in this program's own registry view (where
// HKEY_CLASSES_ROOT reads it) and removed with the object.
class Registration {
public:
    explicit Registration(const CLSID& clsid) {
        wchar_t text[40] = {};
        StringFromGUID2(clsid, text, 40);
        class_key_ = std::wstring(L"Software\\Classes\\CLSID\\") + text;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (class_key_ + L"\\InprocServer32").c_str(),
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server_, nullptr),
                  ERROR_SUCCESS);
    }
    ~Registration() {
        RegCloseKey(server_);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, class_key_.c_str());
    }
    void set_path(const std::wstring& path, DWORD type = REG_SZ) {
        EXPECT_EQ(RegSetValueExW(server_, nullptr, 0, type,
                                 reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void set_threading(const wchar_t* model) {
        RegSetValueExW(server_, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model),
                       static_cast<DWORD>((wcslen(model) + 1) * sizeof(wchar_t)));
    }
    HKEY key() const { return server_; }

private:
    std::wstring class_key_;
    HKEY server_ = nullptr;
};

// A class of the tests' own, so that no other registration is touched.
constexpr CLSID kClsidProva = {
    0x6d0c1c57, 0x3b1e, 0x4a8e, {0x9a, 0x41, 0x2f, 0x55, 0x0b, 0x7e, 0x13, 0xc4}};

TEST(RegisteredServerFolder, IsTheFolderOfTheRegisteredPathAsComReadsIt) {
    SetEnvironmentVariableW(L"AGGIORNA_TEST_RADICE", L"D:\\Radice");
    const struct {
        const wchar_t* path;
        DWORD type;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Componenti\\server.dll", REG_SZ, L"C:\\Componenti"},
        {L"\"C:\\Program Files\\Quibex\\server.dll\"", REG_SZ, L"C:\\Program Files\\Quibex"},
        {L"  C:\\Componenti\\server.dll  ", REG_SZ, L"C:\\Componenti"},
        {L"%AGGIORNA_TEST_RADICE%\\Quibex\\server.dll", REG_EXPAND_SZ, L"D:\\Radice\\Quibex"},
        {L"\"%AGGIORNA_TEST_RADICE%\\Con spazi\\server.dll\"", REG_EXPAND_SZ,
         L"D:\\Radice\\Con spazi"},
        // Only a REG_EXPAND_SZ value is expanded.
        {L"%AGGIORNA_TEST_RADICE%\\server.dll", REG_SZ, L"%AGGIORNA_TEST_RADICE%"},
        {L"C:/Componenti/server.dll", REG_SZ, L"C:/Componenti"},
        {L"C:\\server.dll", REG_SZ, L"C:\\"},
        {L"\\\\server\\condivisa\\server.dll", REG_SZ, L"\\\\server\\condivisa"},
        {L"server.dll", REG_SZ, L""},  // found by the standard search: no folder of its own
        {L"", REG_SZ, L""},
    };
    for (const auto& c : cases) {
        Registration registration(kClsidProva);
        registration.set_path(c.path, c.type);
        EXPECT_EQ(registered_server_folder(kClsidProva), c.folder) << to_utf8(c.path);
    }
    SetEnvironmentVariableW(L"AGGIORNA_TEST_RADICE", nullptr);
}

TEST(RegisteredServerFolder, IsEmptyWithoutAStringRegistration) {
    EXPECT_EQ(registered_server_folder(kClsidProva), L"");  // the class is not registered
    Registration registration(kClsidProva);
    EXPECT_EQ(registered_server_folder(kClsidProva), L"");  // no default value
    const DWORD number = 1;
    RegSetValueExW(registration.key(), nullptr, 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(registered_server_folder(kClsidProva), L"");
}

// The update component served from "componente\aggiorna_test_server_cartella.dll", which imports
// "componente\aggiorna_test_aiuto.dll". Wine loads such a DLL from the server's folder whatever
// the search path, so the creation passing here does not prove the folder was needed; the probe
// shows the folder is on the search path during the creation and off it after.
class OwnFolderComponentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override {
        folder_ = to_wide(WindowsFileSystem().executable_folder(), 52) + L"\\componente";
        ASSERT_NE(GetFileAttributesW((folder_ + L"\\aggiorna_test_sonda.dll").c_str()),
                  INVALID_FILE_ATTRIBUTES);
        SetEnvironmentVariableW(L"AGGIORNA_TEST_CARTELLA", nullptr);
        SetEnvironmentVariableW(L"AGGIORNA_TEST_SONDA", nullptr);
    }
    static bool probe_found() {
        HMODULE probe =
            LoadLibraryExW(L"aggiorna_test_sonda.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
        if (probe != nullptr) FreeLibrary(probe);
        return probe != nullptr;
    }
    static std::wstring variable(const wchar_t* name) {
        wchar_t value[MAX_PATH] = {};
        GetEnvironmentVariableW(name, value, MAX_PATH);
        return value;
    }
    std::wstring folder_;
};

TEST_F(OwnFolderComponentTest, IsCreatedWithItsFolderOnTheSearchPathAndCalled) {
    Registration registration(kClsidComponenteAggiornamento);
    registration.set_path(folder_ + L"\\aggiorna_test_server_cartella.dll");
    registration.set_threading(L"Apartment");
    EXPECT_FALSE(probe_found());

    auto updater = WindowsComponents().create_updater();
    EXPECT_EQ(variable(L"AGGIORNA_TEST_SONDA"), L"1") << "the server's folder was not added";
    EXPECT_FALSE(probe_found()) << "the server's folder stayed on the search path";

    updater->CompletaAggiornamento("C:\\Programmi\\Quintrel4");
    EXPECT_EQ(variable(L"AGGIORNA_TEST_CARTELLA"), L"aiuto:C:\\Programmi\\Quintrel4");
}

TEST(DllFolder, AddsAnAbsoluteFolderForItsLifeAndIgnoresTheRest) {
    const std::wstring folder =
        to_wide(WindowsFileSystem().executable_folder(), 52) + L"\\componente";
    auto found = [] {
        HMODULE probe =
            LoadLibraryExW(L"aggiorna_test_sonda.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
        if (probe != nullptr) FreeLibrary(probe);
        return probe != nullptr;
    };
    {
        const DllFolder added(folder);
        EXPECT_TRUE(found());
    }
    EXPECT_FALSE(found());
    const DllFolder empty(L"");
    const DllFolder relative(L"componente");
    EXPECT_FALSE(found());
}

}  // namespace
}  // namespace aggiorna::windows
