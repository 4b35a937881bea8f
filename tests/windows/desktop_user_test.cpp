// The user at the desktop when the run is another account's (started with an administrator's
// password): who it is, and that their folders are never swapped for the run's own.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/desktop_user.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"

namespace aggiorna::windows {
namespace {

constexpr DWORD kFolderRights = TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE;

// A real token handle to stand for the shell's (this process's own).
ScopedHandle some_token() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), kFolderRights, &token));
    return ScopedHandle(token);
}

struct Answers {
    DWORD shell;             // 0: no shell
    bool opens_for_folders;  // the token opens with the rights for the user's folders
    bool opens_for_query;    // it opens for querying alone
    bool same;               // it is this run's account
};

DesktopUserQueries queries_from(const Answers& answers, std::vector<DWORD>* asked = nullptr) {
    return {[=] { return answers.shell; },
            [=](DWORD process, DWORD access) {
                EXPECT_EQ(process, answers.shell);
                if (asked != nullptr) asked->push_back(access);
                const bool opens = access == kFolderRights ? answers.opens_for_folders : answers.opens_for_query;
                return opens ? some_token() : ScopedHandle();
            },
            [=](HANDLE) { return answers.same; }};
}

TEST(DesktopUser, IsTheShellsUserAndSaysWhenItCannotBeHad) {
    struct Case { const char* what; Answers answers; bool token; bool other; bool unknown; };
    const Case cases[] = {
        {"no shell (a service's desktop): the run's user", {0, false, false, true}, false, false, false},
        {"the run's own user", {42, true, true, true}, true, false, false},
        {"another account, its token had", {42, true, true, false}, true, true, false},
        {"another account, its token refused for the folders", {42, false, true, false}, false, true, true},
        {"the run's own user, whose token opens only for querying", {42, false, true, true}, false, false, false},
        {"a shell that cannot be opened at all", {42, false, false, true}, false, true, true},
    };
    for (const Case& c : cases) {
        std::vector<DWORD> asked;
        const DesktopUser user = find_desktop_user(queries_from(c.answers, &asked));
        EXPECT_EQ(user.token.valid(), c.token) << c.what;
        EXPECT_EQ(user.other, c.other) << c.what;
        EXPECT_EQ(user.unknown, c.unknown) << c.what;
        if (c.answers.shell != 0) {
            ASSERT_FALSE(asked.empty()) << c.what;
            EXPECT_EQ(asked[0], kFolderRights) << c.what;  // what SHGetFolderPathW asks of the token
        }
    }
}

// Another account's folders that cannot be had are never the run's own: the VirtualStore and
// the Desktop of the administrator would be the wrong ones, updated while success is shown.
TEST(DesktopUser, AnotherAccountsFolderIsNeverTheRunsOwn) {
    wchar_t own[MAX_PATH + 1] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, own), S_OK);
    struct Case { const char* what; Answers answers; std::string path; bool other; bool unknown; };
    const Case cases[] = {
        {"no shell", {0, false, false, true}, to_utf8(own), false, false},
        {"the run's own user", {42, true, true, true}, to_utf8(own), false, false},
        // Under Wine the stand-in token is this run's: its folder is the run's.
        {"another account, its token had", {42, true, true, false}, to_utf8(own), true, false},
        {"another account, its token refused", {42, false, true, false}, "", true, true},
        {"a shell that cannot be opened", {42, false, false, false}, "", true, true},
    };
    for (const Case& c : cases) {
        const UserFolder folder = desktop_user_folder_of(CSIDL_LOCAL_APPDATA, queries_from(c.answers));
        EXPECT_EQ(folder.path, c.path) << c.what;
        EXPECT_EQ(folder.other, c.other) << c.what;
        EXPECT_EQ(folder.unknown, c.unknown) << c.what;
    }
}

// Whether this process's token holds a privilege, and enabled: nullopt when it does not hold it.
std::optional<bool> privilege_enabled(const wchar_t* name) {
    LUID luid = {};
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return std::nullopt;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
    const ScopedHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetTokenInformation(token, TokenPrivileges, data.data(), size, &size)) return std::nullopt;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& at = privileges->Privileges[i].Luid;
        if (at.LowPart == luid.LowPart && at.HighPart == luid.HighPart) {
            return (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    return std::nullopt;
}

// SeDebugPrivilege is enabled only around the opens of the shell's process and token, and put
// back as it was after.
TEST(EnabledPrivilege, IsEnabledForItsScopeAndPutBackAfter) {
    for (const wchar_t* name : {L"SeDebugPrivilege", L"SeShutdownPrivilege"}) {
        const std::optional<bool> before = privilege_enabled(name);
        {
            const EnabledPrivilege enabled(name);
            if (before.has_value()) {
                EXPECT_EQ(privilege_enabled(name), true) << to_utf8(name);
                EXPECT_EQ(enabled.changed(), !*before) << to_utf8(name);
            } else {
                EXPECT_FALSE(enabled.changed()) << to_utf8(name);
            }
        }
        EXPECT_EQ(privilege_enabled(name), before) << to_utf8(name);
    }
    const EnabledPrivilege unknown(L"SeNoSuchPrivilege");
    EXPECT_FALSE(unknown.changed());
}

TEST(AccountName, IsTheDomainAndTheNameOfTheTokensUser) {
    const ScopedHandle token = some_token();
    const std::string name = account_name(token.get());
    EXPECT_FALSE(name.empty());
    wchar_t user[256] = {};
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(user, &size));
    const std::string plain = to_utf8(user);
    const std::size_t separator = name.find('\\');
    EXPECT_EQ(separator == std::string::npos ? name : name.substr(separator + 1), plain) << name;
}

}  // namespace
}  // namespace aggiorna::windows
