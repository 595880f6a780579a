#include "container_walk.h"

#include <cstring>
#include <utility>

#include "bound_function_table.h"

namespace orva::api {

namespace {

constexpr std::uint32_t kMaxEightBitIndex = 0xFF;
constexpr std::uint32_t kMaxContainers = kMaxEightBitIndex + 1;

}  // namespace

MakerStatus ContainerWalk::next() noexcept {
    name_.fill('\0');
    index_ = 0;
    const std::uint32_t which = first_ ? 1 : 0;
    first_ = false;
    const MakerStatus status =
        session_.call(&DravikApi::QZEnumContainer, 0, which, &index_, name_.data());
    if (!status.ok()) {
        return status;
    }
    if (delivered_ == kMaxContainers) {  // eight-bit ids name no more: the key never ends its list
        name_.fill('\0');
        index_ = 0;
        return MakerStatus{DRV_E_INTERNAL};
    }
    ++delivered_;
    return status;
}

std::string_view ContainerWalk::name() const noexcept {
    return {name_.data(), strnlen(name_.data(), DRV_CONTAINER_NAME_ROOM)};
}

std::optional<DRV_CONTAINER_INFO> readContainerInfo(const DeviceSession& session,
                                                    std::uint32_t index) noexcept {
    DRV_CONTAINER_INFO info{};
    if (!session.call(&DravikApi::QZGetContainerInfo, index, &info).ok()) {
        return std::nullopt;
    }
    return info;
}

std::optional<Bytes> readContainerCertificate(const DeviceSession& session, std::uint32_t index,
                                              std::uint32_t fileId) {
    if (index > kMaxEightBitIndex) {
        return std::nullopt;
    }
    Bytes der(kCertificateRoom, 0);
    std::uint32_t length = kCertificateRoom;
    if (!session
             .call(&DravikApi::QZReadFileFromContainer, static_cast<std::uint8_t>(index), fileId,
                   der.data(), &length)
             .ok() ||
        length > kCertificateRoom) {
        return std::nullopt;
    }
    der.resize(length);
    return der;
}

}  // namespace orva::api
