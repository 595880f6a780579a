#include "device_session.h"

#include <array>

#include "bound_function_table.h"

namespace orva::api {

namespace {

constexpr std::uint32_t kSlotListSize = 32;

}  // namespace

ApiErrorCode DeviceSession::open(Authentication authentication) noexcept {
    close();
    // Nothing obtained yet; 32 zero slot ids.
    std::array<std::uint32_t, kSlotListSize> slots{};
    std::uint32_t count = kSlotListSize;
    const DravikApi& dravik = boundFunctions().dravik;

    // Cannot happen in a loaded library, which is always fully bound.
    if (!dravik.NDEstablishContext) {
        return kDriverNotInstalled;
    }
    void* context = nullptr;
    if (dravik.NDEstablishContext(&context) != DRV_OK) {
        return kNoDevice;
    }
    context_ = context;
    if (dravik.NDGetSlotList(context_, kSlotListSize, slots.data(), &count) != DRV_OK ||
        count == 0) {
        close();
        return kNoDevice;
    }
    // A count above the list's 32 ids is too many keys as well; only the
    // first id is ever read.
    if (count >= 2) {
        close();
        return kTooManyDevices;
    }
    // A failed open hands back no device to close.
    void* device = nullptr;
    if (dravik.NDOpen(context_, slots[0], &device) != DRV_OK) {
        close();
        return kOpenDeviceError;
    }
    device_ = device;
    // Its result does not matter.
    dravik.NDBeginTransaction(device_);
    if (authentication == Authentication::external &&
        dravik.QZExternAuth(device_, DRV_DEVICE_AUTH_KEY) != DRV_OK) {
        close();
        return kOpenDeviceError;
    }
    return kSuccess;
}

void DeviceSession::close() noexcept {
    const DravikApi& dravik = boundFunctions().dravik;
    if (device_) {
        dravik.NDEndTransaction(device_);
        dravik.NDClose(device_);
        device_ = nullptr;
    }
    if (context_) {
        dravik.NDReleaseContext(context_);
        context_ = nullptr;
    }
}

}  // namespace orva::api
