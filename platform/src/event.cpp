// Events over POSIX semaphores: a named event is the semaphore "/orva.<name>",
// shared by every process of the machine; an unnamed one lives in this process.

#include "win32/event.h"

#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "win32/errors.h"

namespace {

struct Event {
    sem_t* sem = nullptr;  // the named semaphore, or &local; null until opened
    sem_t local{};         // storage of an unnamed event
    std::string semName;   // empty for an unnamed event
    bool manualReset = false;
    bool createdHere = false;  // the creator removes the name when it closes

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() {
        if (sem == nullptr) {
            return;
        }
        if (sem == &local) {
            sem_destroy(&local);
            return;
        }
        sem_close(sem);
        // Windows drops a named event with its last handle; this approximates that by
        // removing the name when the creating handle closes.
        if (createdHere) {
            sem_unlink(semName.c_str());
        }
    }
};

// Live handles; anything not in here is not an event handle.
std::mutex tableLock;
std::unordered_map<HANDLE, std::unique_ptr<Event>> liveEvents;

HANDLE remember(std::unique_ptr<Event> event) {
    HANDLE handle = event.get();
    std::lock_guard guard(tableLock);
    liveEvents.emplace(handle, std::move(event));
    return handle;
}

Event* find(HANDLE handle) {
    std::lock_guard guard(tableLock);
    auto it = liveEvents.find(handle);
    return it == liveEvents.end() ? nullptr : it->second.get();
}

constexpr size_t kMaxSemaphoreName = NAME_MAX - 4;  // glibc prefixes "sem."

// "/orva." + the name with every character outside [A-Za-z0-9._-] turned into '_'.
bool semaphoreName(const char* eventName, std::string& out) {
    out = "/orva.";
    for (const char* p = eventName; *p != '\0'; ++p) {
        const char c = *p;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        out.push_back(plain ? c : '_');
        if (out.size() > kMaxSemaphoreName) {
            return false;
        }
    }
    return true;
}

DWORD errorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

HANDLE createEvent(BOOL manualReset, BOOL initialState, const char* name) {
    auto event = std::make_unique<Event>();
    event->manualReset = manualReset != FALSE;
    const unsigned initial = initialState != FALSE ? 1 : 0;
    if (name == nullptr) {
        if (sem_init(&event->local, 0, initial) != 0) {
            SetLastError(errorFromErrno(errno));
            return nullptr;
        }
        event->sem = &event->local;
        SetLastError(ERROR_SUCCESS);
        return remember(std::move(event));
    }
    if (!semaphoreName(name, event->semName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    DWORD outcome = ERROR_SUCCESS;
    event->sem = sem_open(event->semName.c_str(), O_CREAT | O_EXCL, 0600, initial);
    if (event->sem != SEM_FAILED) {
        event->createdHere = true;
    } else if (errno == EEXIST) {
        event->sem = sem_open(event->semName.c_str(), 0);
        outcome = ERROR_ALREADY_EXISTS;
    }
    if (event->sem == SEM_FAILED) {
        SetLastError(errorFromErrno(errno));
        event->sem = nullptr;
        return nullptr;
    }
    SetLastError(outcome);
    return remember(std::move(event));
}

}  // namespace

ORVA_API_ENTRY HANDLE CreateEventA(const SECURITY_ATTRIBUTES* /*lpEventAttributes*/,
                                   BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    try {
        return createEvent(bManualReset, bInitialState, lpName);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

ORVA_API_ENTRY HANDLE OpenEventA(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/,
                                 LPCSTR lpName) {
    try {
        if (lpName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        auto event = std::make_unique<Event>();
        if (!semaphoreName(lpName, event->semName)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        event->sem = sem_open(event->semName.c_str(), 0);  // never O_CREAT
        if (event->sem == SEM_FAILED) {
            SetLastError(errorFromErrno(errno));
            event->sem = nullptr;
            return nullptr;
        }
        return remember(std::move(event));
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

ORVA_API_ENTRY BOOL SetEvent(HANDLE hEvent) {
    Event* event = find(hEvent);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // An event is set or not: setting a set event changes nothing.
    int value = 0;
    if (sem_getvalue(event->sem, &value) == 0 && value > 0) {
        return TRUE;
    }
    if (sem_post(event->sem) != 0) {
        SetLastError(errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

ORVA_API_ENTRY DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    Event* event = find(hHandle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    int rc = 0;
    if (dwMilliseconds == INFINITE) {
        while ((rc = sem_wait(event->sem)) != 0 && errno == EINTR) {
        }
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += dwMilliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while ((rc = sem_clockwait(event->sem, CLOCK_MONOTONIC, &deadline)) != 0 &&
               errno == EINTR) {
        }
    }
    if (rc != 0) {
        if (errno == ETIMEDOUT) {
            return WAIT_TIMEOUT;
        }
        SetLastError(errorFromErrno(errno));
        return WAIT_FAILED;
    }
    if (event->manualReset) {
        sem_post(event->sem);  // a manual-reset event stays set for the next waiter
    }
    return WAIT_OBJECT_0;
}

ORVA_API_ENTRY BOOL CloseHandle(HANDLE hObject) {
    std::unique_ptr<Event> event;
    {
        std::lock_guard guard(tableLock);
        auto it = liveEvents.find(hObject);
        if (it != liveEvents.end()) {
            event = std::move(it->second);
            liveEvents.erase(it);
        }
    }
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
