#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "win32/errors.h"
#include "win32/event.h"

namespace {

// A name of this test process alone, so parallel runs never meet.
std::string uniqueName(const char* what) {
    return std::string("OrvaTest Event ") + what + " " + std::to_string(getpid());
}

bool semaphoreExists(const std::string& semName) {
    sem_t* sem = sem_open(semName.c_str(), 0);
    if (sem == SEM_FAILED) {
        return false;
    }
    sem_close(sem);
    return true;
}

TEST(NamedEvent, OpenFailsForAMissingEventAndNeverCreatesOne) {
    const std::string name = uniqueName("missing");
    SetLastError(0);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Characters outside [A-Za-z0-9._-] become '_'.
    EXPECT_FALSE(semaphoreExists("/orva.OrvaTest_Event_missing_" + std::to_string(getpid())));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
}

TEST(NamedEvent, SetEventIsObservedThroughAnotherHandle) {
    const std::string name = uniqueName("set");
    HANDLE owner = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(owner, 0), WAIT_TIMEOUT);

    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(SetEvent(opened));
    EXPECT_TRUE(SetEvent(opened));  // already set: stays set once
    EXPECT_TRUE(CloseHandle(opened));

    EXPECT_EQ(WaitForSingleObject(owner, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(owner, 0), WAIT_TIMEOUT);  // auto-reset
    EXPECT_TRUE(CloseHandle(owner));
    // The creator's close removes the name.
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
}

TEST(NamedEvent, SetFromAnotherProcessWakesTheWaiter) {
    const std::string name = uniqueName("cross");
    HANDLE owner = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(owner, nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
        const bool ok = event != nullptr && SetEvent(event) && CloseHandle(event);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(WaitForSingleObject(owner, 5000), WAIT_OBJECT_0);
    CloseHandle(owner);
}

TEST(NamedEvent, SecondCreateOpensTheSameEvent) {
    const std::string name = uniqueName("twice");
    HANDLE first = CreateEventA(nullptr, FALSE, TRUE, name.c_str());
    ASSERT_NE(first, nullptr);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);  // initially set by the first
    CloseHandle(second);
    CloseHandle(first);
}

TEST(Event, ManualResetStaysSetAndUnnamedWorks) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, HandlesAreChecked) {
    int notAnEvent = 0;
    SetLastError(0);
    EXPECT_FALSE(SetEvent(&notAnEvent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(&notAnEvent));
    EXPECT_EQ(WaitForSingleObject(&notAnEvent, 0), WAIT_FAILED);

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));  // closed twice
    EXPECT_FALSE(SetEvent(event));

    const std::string tooLong(400, 'x');
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
}

}  // namespace
