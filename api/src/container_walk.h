#pragma once

// The container walk that many exports share, and the reads they make per
// container.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "byte_buffer.h"
#include "device_session.h"
#include "maker/dravik.h"

namespace orva::api {

// Certificate files are read into this much room.
inline constexpr std::uint32_t kCertificateRoom = 4096;

// Walks the key's containers: the first step asks for the first container,
// every later one for the next. A step is ok with a container index (and its
// name) delivered, DRV_END_OF_CONTAINERS when there are no more, or another
// status the caller judges. A key names its containers in 8 bits, so
// it has at most 256: a step that delivers one more answers DRV_E_INTERNAL, so
// that a key which never reports the end cannot keep the caller walking for
// ever, while a full key still ends its walk as usual.
class ContainerWalk {
  public:
    explicit ContainerWalk(const DeviceSession& session) noexcept : session_(session) {}

    MakerStatus next() noexcept;

    // The index and name the last successful step delivered.
    std::uint32_t index() const noexcept { return index_; }
    std::string_view name() const noexcept;

  private:
    const DeviceSession& session_;
    bool first_ = true;
    std::uint32_t delivered_ = 0;
    std::uint32_t index_ = 0;
    // The name comes without a length: one byte more than the key may fill
    // stays NUL.
    std::array<char, DRV_CONTAINER_NAME_ROOM + 1> name_{};
};

// A container's record; nothing when it cannot be read.
[[nodiscard]] std::optional<DRV_CONTAINER_INFO> readContainerInfo(const DeviceSession& session,
                                                                  std::uint32_t index) noexcept;

// A certificate file (DRV_FILE_SIGN_CERT or DRV_FILE_EXCH_CERT) of a container,
// read into 4096 bytes; nothing when it cannot be read. The token manager names
// the container in 8 bits, so an index above 255 would read another
// container's file: it is refused, as is a length answered beyond the room.
[[nodiscard]] std::optional<Bytes> readContainerCertificate(const DeviceSession& session,
                                                            std::uint32_t index,
                                                            std::uint32_t fileId);

}  // namespace orva::api
