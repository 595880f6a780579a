// Reader contexts, devices and the one APDU the product sends.

#include <algorithm>
#include <array>

#include "operations.h"

namespace orva::dravik {

namespace {

constexpr std::uint32_t kMaxSlots = 32;

// Set device language: 80 2A 9E EE 04 0A 00 01 <code>.
constexpr std::array<std::uint8_t, 8> kSetLanguage = {0x80, 0x2A, 0x9E, 0xEE,
                                                      0x04, 0x0A, 0x00, 0x01};

}  // namespace

std::uint32_t establishContext(Call&, void** context) {
    require(context != nullptr);
    *context = contexts().add(std::make_unique<Context>());
    return DRV_OK;
}

std::uint32_t releaseContext(Call&, void* context) {
    require(contexts().remove(context), DRV_E_INVALID_HANDLE);
    return DRV_OK;
}

std::uint32_t getSlotList(Call& call, void* handle, std::uint32_t maxSlots, std::uint32_t* slots,
                          std::uint32_t* count) {
    Context& context = call.context(handle);
    require(count != nullptr);
    // At most 32 ids, the size of the list the token API library passes.
    const std::uint32_t room = std::min({maxSlots, *count, kMaxSlots});
    require(slots != nullptr || room == 0);
    context.slots = call.store().serials(softkey::KeyPlace::present);
    const std::size_t n = context.slots.size();
    for (std::uint32_t i = 0; i < room && i < n; ++i) {
        slots[i] = i + 1;
    }
    // More keys than room is not an error here: the caller sees the count.
    *count = static_cast<std::uint32_t>(n);
    return DRV_OK;
}

std::uint32_t open(Call& call, void* handle, std::uint32_t slotId, void** device) {
    const Context& context = call.context(handle);
    require(device != nullptr);
    require(slotId >= 1 && slotId <= context.slots.size(), DRV_E_NOT_FOUND);
    const std::string& serial = context.slots[slotId - 1];
    require(call.store().placeOf(serial) == softkey::KeyPlace::present, DRV_E_DEVICE_REMOVED);
    auto opened = std::make_unique<Device>();
    opened->serial = serial;
    *device = devices().add(std::move(opened));
    return DRV_OK;
}

std::uint32_t close(Call&, void* device) {
    require(devices().remove(device), DRV_E_INVALID_HANDLE);
    return DRV_OK;
}

std::uint32_t beginTransaction(Call& call, void* handle) {
    Device& device = call.device(handle);
    call.requirePresent(device);
    device.inTransaction = true;
    return DRV_OK;
}

std::uint32_t endTransaction(Call& call, void* handle) {
    call.device(handle).inTransaction = false;
    return DRV_OK;
}

std::uint32_t transmit(Call& call, void* handle, const std::uint8_t* apdu, std::uint32_t apduLen,
                       std::uint8_t*, std::uint32_t* responseLen) {
    const Device& device = call.device(handle);
    const auto command = input(apdu, apduLen);
    const Token& key = call.key(device);
    if (responseLen != nullptr) {
        *responseLen = 0;  // no command answers with data
    }
    if (command.size() != kSetLanguage.size() + 1 ||
        !std::equal(kSetLanguage.begin(), kSetLanguage.end(), command.begin())) {
        return DRV_E_NOT_SUPPORTED;
    }
    const std::uint8_t code = command.back();
    if (std::find(key.languages.begin(), key.languages.end(), code) == key.languages.end()) {
        return DRV_E_WRONG_DATA;
    }
    call.change(device, [&](Token& t) { t.language = code; });
    return DRV_SW_OK;
}

}  // namespace orva::dravik
