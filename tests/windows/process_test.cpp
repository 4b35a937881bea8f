// The process backend: one run at a time on the machine (seen from other processes, and not
// blocked by a killed one), and the run's facts.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/handles.h"
#include "platform/windows/process.h"
#include "platform/windows/text.h"
#include "platform/windows/win.h"
#include "windows/child_process.h"

namespace aggiorna::windows {
namespace {

constexpr DWORD kClaimed = 10;
constexpr DWORD kRefused = 20;

std::wstring environment(const wchar_t* name) {
    wchar_t value[512] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 512);
    return length > 0 && length < 512 ? value : L"";
}

// The run that the lock test starts: claims the lock named in AGGIORNA_TEST_LOCK and ends with
// kClaimed or kRefused; with AGGIORNA_TEST_LOCK_READY it signals that event once it holds the
// lock and waits to be killed. Run only by that test.
TEST(SingleRunChild, DISABLED_ClaimsTheLock) {
    const std::wstring name = environment(L"AGGIORNA_TEST_LOCK");
    ASSERT_FALSE(name.empty());
    WindowsProcess process(name);
    const bool claimed = process.claim_single_run();
    const std::wstring ready = environment(L"AGGIORNA_TEST_LOCK_READY");
    if (claimed && !ready.empty()) {
        const ScopedHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, ready.c_str()));
        SetEvent(event.get());
        Sleep(60000);
    }
    ExitProcess(claimed ? kClaimed : kRefused);
}

class SingleRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        lock_ = L"Global\\AggiornaArchivio-prova-" + tag;
        ready_name_ = L"AggiornaArchivio-pronto-" + tag;
        ready_ = ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str()));
        ASSERT_TRUE(ready_.valid());
    }
    // Starts this test program as the child run; `hold`: it keeps the lock until killed.
    ScopedHandle start_child(bool hold) {
        ScopedHandle child = test_children::start_child_test(
            L"SingleRunChild.DISABLED_ClaimsTheLock",
            {{L"AGGIORNA_TEST_LOCK", lock_.c_str()}, {L"AGGIORNA_TEST_LOCK_READY", hold ? ready_name_.c_str() : nullptr}});
        EXPECT_TRUE(child.valid());
        return child;
    }
    DWORD exit_code_of(const ScopedHandle& child) {
        EXPECT_EQ(WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(child.get(), &code);
        return code;
    }
    std::wstring lock_;
    std::wstring ready_name_;
    ScopedHandle ready_;
};

TEST_F(SingleRunTest, AnotherProcessSeesTheLockTakenAndAKilledHolderDoesNotBlock) {
    // A run holds the lock: this one is refused.
    const ScopedHandle holder = start_child(true);
    ASSERT_TRUE(holder.valid());
    ASSERT_EQ(WaitForSingleObject(ready_.get(), 30000), WAIT_OBJECT_0) << "the child never took the lock";
    {
        WindowsProcess second(lock_);
        EXPECT_FALSE(second.claim_single_run());
    }
    // Killed while it held it (abandoned): the next run takes it.
    test_children::kill_child(holder);
    {
        WindowsProcess next(lock_);
        EXPECT_TRUE(next.claim_single_run());
        EXPECT_TRUE(next.claim_single_run()) << "claimed twice by the run that holds it";
        EXPECT_EQ(exit_code_of(start_child(false)), kRefused);
    }
    // Released with its holder: free again.
    EXPECT_EQ(exit_code_of(start_child(false)), kClaimed);
}

TEST(SingleRun, TheProgramsLockIsInTheGlobalNamespace) {
    EXPECT_TRUE(std::wstring(kSingleRunLock).starts_with(L"Global\\AggiornaArchivio-{"));
}

// What the head of the run's log says of the run; Wine has UAC's token queries but never
// virtualizes, and runs every program for the one user at its desktop.
TEST(RunFacts, NameTheProgramTheSystemAndTheUser) {
    const RunFacts facts = WindowsProcess().facts();
    EXPECT_EQ(facts.program, std::string("AggiornaArchivio ") + AGGIORNA_VERSION +
                                 (sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)"));
    EXPECT_TRUE(facts.system.starts_with("Windows ")) << facts.system;
    EXPECT_NE(facts.system.find(" build "), std::string::npos) << facts.system;
    EXPECT_TRUE(facts.system.ends_with(", 64-bit")) << facts.system;  // a 64-bit test, or WOW64
    EXPECT_TRUE(facts.elevated.has_value());
    EXPECT_EQ(facts.virtualized, false);
    EXPECT_FALSE(facts.user.empty());
    EXPECT_EQ(facts.user.find("desktop"), std::string::npos) << facts.user;
}

}  // namespace
}  // namespace aggiorna::windows
