// The registry backend against Wine's real registry: views, value reads, strings, closing.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/windows/registry.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

constexpr std::uint32_t kRead32 = reg_access::read | reg_access::wow64_32key;
constexpr std::uint32_t kRead64 = reg_access::read | reg_access::wow64_64key;

// A key made for one test under <root>\Software in one registry view, removed after. Only
// HKEY_LOCAL_MACHINE\Software has two views; HKEY_CURRENT_USER\Software is shared by both.
class TestKey {
public:
    TestKey(const std::wstring& name, REGSAM view, HKEY root = HKEY_CURRENT_USER)
        : root_(root), name_(L"Software\\" + name), view_(view) {
        EXPECT_EQ(RegCreateKeyExW(root_, name_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | view_, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    ~TestKey() {
        RegCloseKey(key_);
        RegDeleteKeyExW(root_, name_.c_str(), view_, 0);
    }
    void set(const wchar_t* value, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(key_, value, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void set_text(const wchar_t* value, const std::wstring& text) {
        set(value, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY root_;
    std::wstring name_;
    REGSAM view_;
    HKEY key_ = nullptr;
};

class RegistryTest : public ::testing::Test {
protected:
    // Opens <root>\Software\<name> one component at a time, as the lookups do.
    RegKey open(const char* name, std::uint32_t access, RegKey root = kHkeyCurrentUser) {
        RegKey software = registry_.open_key(root, "Software", access);
        if (software == 0) return 0;
        RegKey key = registry_.open_key(software, name, access);
        registry_.close_key(software);
        return key;
    }
    WindowsRegistry registry_;
};

// The host's machine-wide keys are read in the 32-bit view, from the 64-bit build as well.
TEST_F(RegistryTest, EachViewSeesOnlyItsOwnKey) {
    TestKey only32(L"AggiornaTest Vista32", KEY_WOW64_32KEY, HKEY_LOCAL_MACHINE);
    TestKey only64(L"AggiornaTest Vista64", KEY_WOW64_64KEY, HKEY_LOCAL_MACHINE);
    only32.set_text(L"InstallPath", L"C:\\Trentadue");
    only64.set_text(L"InstallPath", L"C:\\Sessantaquattro");

    RegKey key32 = open("AggiornaTest Vista32", kRead32, kHkeyLocalMachine);
    ASSERT_NE(key32, 0u);
    EXPECT_EQ(registry_.query_string(key32, "InstallPath"), "C:\\Trentadue");
    registry_.close_key(key32);
    EXPECT_EQ(open("AggiornaTest Vista32", kRead64, kHkeyLocalMachine), 0u);

    RegKey key64 = open("AggiornaTest Vista64", kRead64, kHkeyLocalMachine);
    ASSERT_NE(key64, 0u);
    EXPECT_EQ(registry_.query_string(key64, "InstallPath"), "C:\\Sessantaquattro");
    registry_.close_key(key64);
    EXPECT_EQ(open("AggiornaTest Vista64", kRead32, kHkeyLocalMachine), 0u);
}

TEST_F(RegistryTest, MachineWideKeysOpenUnderHkeyLocalMachine) {
    RegKey software = registry_.open_key(kHkeyLocalMachine, "Software", kRead32);
    ASSERT_NE(software, 0u);
    RegKey microsoft = registry_.open_key(software, "Microsoft", kRead32);
    EXPECT_NE(microsoft, 0u);
    registry_.close_key(microsoft);
    registry_.close_key(software);
    EXPECT_EQ(registry_.open_key(kHkeyLocalMachine, "Nessuna chiave così", kRead32), 0u);
    EXPECT_EQ(registry_.open_key(0, "Software", kRead32), 0u);
}

TEST_F(RegistryTest, QueryValueDeliversAnsiBytesWithTheirTerminator) {
    TestKey test(L"AggiornaTest Valori", KEY_WOW64_32KEY);
    test.set_text(L"InstallPath", L"C:\\Città");
    test.set_text(L"", L"C:\\Prog\\quintrel.exe");
    const std::array<std::uint8_t, 4> raw = {0x43, 0x3A, 0x5C, 0x00};
    test.set(L"Grezzo", REG_BINARY, raw.data(), raw.size());

    RegKey key = open("AggiornaTest Valori", kRead32);
    ASSERT_NE(key, 0u);
    std::array<std::uint8_t, 256> area{};
    std::uint32_t length = 0;
    ASSERT_TRUE(registry_.query_value(key, "InstallPath", area, length));
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data()), length),
              std::string("C:\\Citt\xE0", 8) + '\0');

    area.fill(0);
    ASSERT_TRUE(registry_.query_value(key, "", area, length));
    EXPECT_STREQ(reinterpret_cast<const char*>(area.data()), "C:\\Prog\\quintrel.exe");

    area.fill(0);
    ASSERT_TRUE(registry_.query_value(key, "Grezzo", area, length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::memcmp(area.data(), raw.data(), 4), 0);

    area.fill(0x55);
    EXPECT_FALSE(registry_.query_value(key, "Manca", area, length));
    EXPECT_EQ(area[0], 0x55);
    registry_.close_key(key);
}

TEST_F(RegistryTest, A255CharacterValueFillsTheAreaAndOneMoreDoesNotFit) {
    TestKey test(L"AggiornaTest Lunghi", KEY_WOW64_32KEY);
    const std::wstring fits(255, L'x');
    const std::wstring too_long(256, L'y');
    test.set_text(L"Giusto", fits);
    test.set_text(L"Troppo", too_long);

    RegKey key = open("AggiornaTest Lunghi", kRead32);
    ASSERT_NE(key, 0u);
    std::array<std::uint8_t, 256> area;
    area.fill(0x55);
    std::uint32_t length = 0;
    ASSERT_TRUE(registry_.query_value(key, "Giusto", area, length));
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data()), 255), std::string(255, 'x'));
    EXPECT_EQ(area[255], 0);

    area.fill(0x55);
    length = 7;
    EXPECT_FALSE(registry_.query_value(key, "Troppo", area, length));
    EXPECT_EQ(length, 7u);
    for (std::uint8_t byte : area) ASSERT_EQ(byte, 0x55) << "the area was written";
    registry_.close_key(key);
}

TEST_F(RegistryTest, QueryStringTakesOnlyStringValues) {
    TestKey test(L"AggiornaTest Stringhe", KEY_WOW64_32KEY);
    test.set_text(L"Nome valuta", L"Lire");
    test.set_text(L"Vuoto", L"");
    test.set_text(L"Accenti", L"perchè € Ω");
    const std::wstring expand = L"%TEMP%\\x";
    test.set(L"Espandibile", REG_EXPAND_SZ, expand.c_str(),
             static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t)));
    const DWORD number = 3;
    test.set(L"Numero", REG_DWORD, &number, sizeof number);
    // Stored without its terminator, as some writers do.
    const std::wstring bare = L"senza";
    test.set(L"Nudo", REG_SZ, bare.data(), static_cast<DWORD>(bare.size() * sizeof(wchar_t)));
    const std::wstring longer(3000, L'z');
    test.set_text(L"Lungo", longer);

    RegKey key = open("AggiornaTest Stringhe", kRead32);
    ASSERT_NE(key, 0u);
    EXPECT_EQ(registry_.query_string(key, "Nome valuta"), "Lire");
    EXPECT_EQ(registry_.query_string(key, "Vuoto"), "");
    EXPECT_EQ(registry_.query_string(key, "Accenti"), "perchè € Ω");
    EXPECT_EQ(registry_.query_string(key, "Espandibile"), "%TEMP%\\x");
    EXPECT_EQ(registry_.query_string(key, "Numero"), std::nullopt);
    EXPECT_EQ(registry_.query_string(key, "Nudo"), "senza");
    EXPECT_EQ(registry_.query_string(key, "Lungo"), std::string(3000, 'z'));
    EXPECT_EQ(registry_.query_string(key, "Manca"), std::nullopt);
    EXPECT_EQ(registry_.query_string(0, "Nome valuta"), std::nullopt);
    registry_.close_key(key);
}

// Host folders as a Unicode program reads them: no character mapped onto another ("Ｑ" stays
// itself, where the ANSI call would give "Q" or "?"), REG_EXPAND_SZ with its variables expanded
// (an unknown one stays as written), REG_SZ as stored, other types nothing.
TEST_F(RegistryTest, QueryPathReadsUnicodeAndExpandsVariables) {
    TestKey test(L"AggiornaTest Percorsi", KEY_WOW64_32KEY);
    ASSERT_TRUE(SetEnvironmentVariableW(L"AGGIORNA_PROVA", L"C:\\Programmi città"));
    const std::wstring long_value(2000, L'l');
    ASSERT_TRUE(SetEnvironmentVariableW(L"AGGIORNA_LUNGA", long_value.c_str()));
    const auto expand = [&](const wchar_t* name, const std::wstring& text) {
        test.set(name, REG_EXPAND_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    test.set_text(L"Larga", L"C:\\\uFF3130");
    test.set_text(L"Semplice", L"%AGGIORNA_PROVA%\\Quintrel4");
    expand(L"Espandibile", L"%AGGIORNA_PROVA%\\Quintrel4");
    expand(L"Sconosciuta", L"%AGGIORNA_NON_DEFINITA%\\Quintrel4");
    expand(L"Lunga", L"%AGGIORNA_LUNGA%\\x");
    const DWORD number = 3;
    test.set(L"Numero", REG_DWORD, &number, sizeof number);
    const wchar_t multi[] = L"C:\\a\0C:\\b\0";
    test.set(L"Multipla", REG_MULTI_SZ, multi, sizeof multi);

    RegKey key = open("AggiornaTest Percorsi", kRead32);
    ASSERT_NE(key, 0u);
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"Larga", "C:\\\xEF\xBC\xB1" "30"},
        {"Semplice", "%AGGIORNA_PROVA%\\Quintrel4"},
        {"Espandibile", "C:\\Programmi citt\xC3\xA0\\Quintrel4"},
        {"Sconosciuta", "%AGGIORNA_NON_DEFINITA%\\Quintrel4"},
        {"Lunga", std::string(2000, 'l') + "\\x"},
        {"Numero", std::nullopt},
        {"Multipla", std::nullopt},
        {"Manca", std::nullopt},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(registry_.query_path(key, name), expected) << name;
    EXPECT_EQ(registry_.query_path(0, "Larga"), std::nullopt);
    registry_.close_key(key);
    SetEnvironmentVariableW(L"AGGIORNA_PROVA", nullptr);
    SetEnvironmentVariableW(L"AGGIORNA_LUNGA", nullptr);
}

TEST_F(RegistryTest, PreferencesPathWithBlanksAndPunctuationOpens) {
    TestKey test(L"VB and VBA Program Settings\\Quintrel! 4 AggiornaTest\\Options",
                 KEY_WOW64_32KEY);
    test.set_text(L"Ritenuta", L"2,5");
    RegKey software = registry_.open_key(kHkeyCurrentUser, "Software", kRead32);
    RegKey vb = registry_.open_key(software, "VB and VBA Program Settings", kRead32);
    RegKey application = registry_.open_key(vb, "Quintrel! 4 AggiornaTest", kRead32);
    RegKey section = registry_.open_key(application, "Options", kRead32);
    ASSERT_NE(section, 0u);
    EXPECT_EQ(registry_.query_string(section, "Ritenuta"), "2,5");
    for (RegKey key : {section, application, vb, software}) registry_.close_key(key);
    // The test key's parents stay behind otherwise.
    RegDeleteKeyExW(HKEY_CURRENT_USER,
                    L"Software\\VB and VBA Program Settings\\Quintrel! 4 AggiornaTest",
                    KEY_WOW64_32KEY, 0);
}

TEST_F(RegistryTest, ClosingARootDoesNothing) {
    registry_.close_key(kHkeyCurrentUser);
    registry_.close_key(0);
    RegKey key = open("Microsoft", kRead32);
    EXPECT_NE(key, 0u);
    registry_.close_key(key);
}

}  // namespace
}  // namespace aggiorna::windows
