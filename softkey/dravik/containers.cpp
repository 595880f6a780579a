// Containers: the walk, their records, certificates and key bindings.

#include <cstring>
#include <set>
#include <type_traits>

#include "operations.h"

namespace orva::dravik {

static_assert(sizeof(DRV_CONTAINER_INFO) == 23 * sizeof(std::uint32_t) &&
                  std::is_standard_layout_v<DRV_CONTAINER_INFO>,
              "the record is 23 words in order");

namespace {

// Deleting needs the PIN, as on a real key.
void requirePin(const Device& device) {
    require(device.pinVerified, DRV_E_SECURITY);
}

}  // namespace

std::uint32_t enumContainer(Call& call, void* handle, std::uint32_t first, std::uint32_t* index,
                            char* name) {
    Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(index != nullptr);
    // "Next" is the smallest index above the last one returned, so a walk goes on
    // correctly when containers are deleted under it.
    const std::uint32_t after = first != 0 ? 0 : device.cursor;
    if (first != 0) {
        device.cursor = 0;
    }
    const auto it = key.containers.upper_bound(after);
    if (it == key.containers.end()) {
        return DRV_END_OF_CONTAINERS;
    }
    device.cursor = it->first;
    *index = it->first;
    if (name != nullptr) {
        putText(it->second.name, name, DRV_CONTAINER_NAME_ROOM);
    }
    return DRV_OK;
}

std::uint32_t getContainerInfo(Call& call, void* handle, std::uint32_t index,
                               DRV_CONTAINER_INFO* info) {
    const Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(info != nullptr);
    const softkey::Container* container = softkey::findContainer(key, index);
    require(container != nullptr, DRV_E_NOT_FOUND);
    const auto words = softkey::containerWords(index, *container);
    std::memcpy(info, words.data(), sizeof *info);
    return DRV_OK;
}

std::uint32_t newContainer(Call& call, void* handle, const char* name, std::uint32_t* index) {
    const Device& device = call.device(handle);
    require(name != nullptr && index != nullptr);
    const std::size_t length = ::strnlen(name, softkey::kContainerNameMaxChars + 1);
    require(length > 0 && length <= softkey::kContainerNameMaxChars);
    const std::string text(name, length);
    *index = call.change(device, [&](Token& t) { return softkey::addContainer(t, text); });
    return DRV_OK;
}

std::uint32_t delContainer(Call& call, void* handle, std::uint32_t index) {
    const Device& device = call.device(handle);
    call.requirePresent(device);
    requirePin(device);
    call.change(device, [&](Token& t) { softkey::removeContainer(t, index); });
    return DRV_OK;
}

std::uint32_t delMultiContainers(Call& call, void* handle, const std::uint32_t* indexes,
                                 std::uint32_t count) {
    const Device& device = call.device(handle);
    call.requirePresent(device);
    require(indexes != nullptr || count == 0);
    require(count <= softkey::kMaxContainerIndex);
    requirePin(device);
    // All or none; an index named twice is deleted once.
    const std::set<std::uint32_t> unique(indexes, indexes + count);
    call.change(device, [&](Token& t) {
        for (const std::uint32_t index : unique) {
            require(softkey::findContainer(t, index) != nullptr, DRV_E_NOT_FOUND);
        }
        for (const std::uint32_t index : unique) {
            softkey::removeContainer(t, index);
        }
    });
    return DRV_OK;
}

std::uint32_t writeFileToContainer(Call& call, void* handle, std::uint32_t container,
                                   std::uint32_t fileId, const std::uint8_t* data,
                                   std::uint32_t len) {
    const Device& device = call.device(handle);
    const auto bytes = input(data, len);
    call.change(device, [&](Token& t) {
        softkey::setCertificate(t, container, fileId, Bytes(bytes.begin(), bytes.end()));
    });
    return DRV_OK;
}

std::uint32_t readFileFromContainer(Call& call, void* handle, std::uint8_t index,
                                    std::uint32_t fileId, std::uint8_t* buffer,
                                    std::uint32_t* len) {
    const Device& device = call.device(handle);
    const Token& key = call.key(device);
    const softkey::Container* container = softkey::findContainer(key, index);
    require(container != nullptr, DRV_E_NOT_FOUND);
    require(fileId == DRV_FILE_SIGN_CERT || fileId == DRV_FILE_EXCH_CERT, DRV_E_NOT_FOUND);
    const Bytes& der = fileId == DRV_FILE_SIGN_CERT ? container->signature.certificate
                                                    : container->exchange.certificate;
    require(!der.empty(), DRV_E_NOT_FOUND);
    return putBytes(der, buffer, len);
}

std::uint32_t bindPriKeyToContainer(Call& call, void* handle, std::uint32_t container,
                                    std::uint32_t fid, std::uint32_t usage, std::uint32_t algId) {
    const Device& device = call.device(handle);
    call.change(device, [&](Token& t) { softkey::bindKey(t, container, fid, usage, algId); });
    return DRV_OK;
}

}  // namespace orva::dravik
