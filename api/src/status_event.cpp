#include "status_event.h"

#include <memory>
#include <type_traits>

#include "win32/event.h"

namespace orva::api {

namespace {

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using EventHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

}  // namespace

void signalStatusChangeEvent() noexcept {
    // Never created here: without the tool there is nobody to tell.
    const EventHandle event(OpenEventA(EVENT_ALL_ACCESS, FALSE, kStatusChangeEventName));
    if (event) {
        SetEvent(event.get());
    }
}

}  // namespace orva::api
