// The COM backend: creation failures, and calls through the tables of methods of a test server.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/com_interfaces.h"
#include "platform/windows/components.h"
#include "platform/windows/files.h"
#include "platform/windows/text.h"

namespace aggiorna::windows {
namespace {

class ComTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    template <typename Create>
    static int creation_error(Create create) {
        try {
            create();
        } catch (const Error& error) {
            EXPECT_NE(std::string(error.what()).find("0x80040154"), std::string::npos)
                << error.what();
            return error.code();
        }
        return 0;
    }
    WindowsComponents components_;
};

TEST_F(ComTest, AClassThatIsNotRegisteredCannotBeCreated) {
    EXPECT_EQ(creation_error([&] { components_.create_updater(); }), code::cannot_create_object);
    EXPECT_EQ(creation_error([&] { components_.create_cifratore(); }), code::cannot_create_object);
    EXPECT_EQ(creation_error([&] { components_.create_decodificatore(); }),
              code::cannot_create_object);
}

// The test server (aggiorna_test_server.dll, beside this program) registered machine-wide, in
// this program's own registry view, under the components' class identifiers, and unregistered
// after. (Wine's COM does not look at per-user registrations under HKEY_CURRENT_USER.)
class RegisteredComTest : public ComTest {
protected:
    void SetUp() override {
        const std::wstring dll =
            to_wide(WindowsFileSystem().executable_folder(), 52) + L"\\aggiorna_test_server.dll";
        ASSERT_NE(GetFileAttributesW(dll.c_str()), INVALID_FILE_ATTRIBUTES);
        for (const CLSID* clsid : kClasses) {
            const std::wstring key = key_of(*clsid) + L"\\InprocServer32";
            HKEY server = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &server, nullptr),
                      ERROR_SUCCESS);
            set(server, nullptr, dll);
            set(server, L"ThreadingModel", L"Apartment");
            RegCloseKey(server);
        }
        SetEnvironmentVariableW(L"AGGIORNA_TEST_CARTELLA", nullptr);
    }
    void TearDown() override {
        for (const CLSID* clsid : kClasses) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_of(*clsid).c_str());
    }

    static std::wstring key_of(const CLSID& clsid) {
        wchar_t text[40] = {};
        StringFromGUID2(clsid, text, 40);
        return std::wstring(L"Software\\Classes\\CLSID\\") + text;
    }
    static void set(HKEY key, const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    static int call_error(auto call) {
        try {
            call();
        } catch (const Error& error) {
            return error.code();
        }
        return 0;
    }

    static constexpr const CLSID* kClasses[] = {
        &kClsidComponenteAggiornamento, &kClsidCifratore, &kClsidDecodificatore};
};

TEST_F(RegisteredComTest, CompletaAggiornamentoReceivesTheFolderWhole) {
    auto updater = components_.create_updater();
    updater->CompletaAggiornamento("C:\\Programmi\\Città Quintrel\\");
    wchar_t received[MAX_PATH] = {};
    GetEnvironmentVariableW(L"AGGIORNA_TEST_CARTELLA", received, MAX_PATH);
    EXPECT_EQ(to_utf8(received), "C:\\Programmi\\Città Quintrel\\");

    EXPECT_EQ(call_error([&] { updater->CompletaAggiornamento("fallisci"); }),
              static_cast<int>(E_FAIL));
}

TEST_F(RegisteredComTest, CifratoreTakesItsKeyAndTextByReference) {
    auto cifratore = components_.create_cifratore();
    std::string testo = "prima";
    EXPECT_EQ(call_error([&] { cifratore->Decifra(testo); }), static_cast<int>(E_UNEXPECTED));

    std::string chiave = "chiave è";
    cifratore->ImpostaChiave(chiave);
    EXPECT_EQ(chiave, "<chiave è>");
    testo = "testo cifrato";
    EXPECT_EQ(cifratore->Decifra(testo), "chiave è|testo cifrato");
    EXPECT_EQ(testo, "letto");
}

TEST_F(RegisteredComTest, DecodificaGetsAWholeFieldWithItsPadding) {
    auto decodificatore = components_.create_decodificatore();
    std::string field = "Società";
    field.resize(161, ' ');
    field[100] = '\0';
    const std::string decoded = decodificatore->Decodifica(field);
    // 160 characters: "Società" is 7 of them in 8 bytes of UTF-8.
    EXPECT_EQ(decoded, "[160]" + field);
    EXPECT_EQ(decodificatore->Decodifica(""), "[0]");
    // 0x800A0005: run-time error 5 of a component built with the host's tools.
    EXPECT_EQ(call_error([&] { decodificatore->Decodifica("errore"); }), 5);
}

TEST(ComponentErrorCode, RunTimeErrorsAndFileErrorsKeepTheirMeaning) {
    const std::pair<std::uint32_t, int> cases[] = {
        {0x800A004Bu, code::path_file_access},  // 75 from CompletaAggiornamento: the in-use message
        {0x800A0035u, code::file_not_found},
        {0x800A01ADu, code::cannot_create_object},
        {0x80070020u, code::path_file_access},  // ERROR_SHARING_VIOLATION
        {0x80070021u, code::path_file_access},  // ERROR_LOCK_VIOLATION
        {0x80070005u, code::permission_denied},  // E_ACCESSDENIED
        {0x800A0000u, static_cast<int>(0x800A0000u)},  // facility 0xA without a code
        {0x80004005u, static_cast<int>(0x80004005u)},  // E_FAIL
        {0x80070002u, static_cast<int>(0x80070002u)},  // other Win32 errors as they come
    };
    for (const auto& [hresult, expected] : cases) {
        EXPECT_EQ(component_error_code(hresult), expected) << std::hex << hresult;
    }
}

}  // namespace
}  // namespace aggiorna::windows
