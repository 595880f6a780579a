#include "csp_containers.h"

#include <openssl/sha.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <system_error>

#include "json.h"
#include "orva/hex.h"

namespace orva::softkey::csp {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCspDir = "csp";
constexpr const char* kSuffix = ".json";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Names of up to 259 bytes do not fit a file name as hex; their digest does.
std::string fileOf(std::string_view name) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest);
    return std::string(kCspDir) + "/" +
           toHex(std::span<const std::uint8_t>(digest, sizeof digest)) + kSuffix;
}

void ensureFolder(const Store& store) {
    std::error_code ec;
    fs::create_directories(store.file(kCspDir), ec);
    if (ec) {
        throw StoreError(StoreErrorKind::io, "mkdir " + store.file(kCspDir).string());
    }
}

void addKey(cJSON* parent, const char* name, const std::optional<KeyRecord>& key) {
    if (!key) {
        return;
    }
    json::Ptr object = json::object();
    json::addString(object.get(), "key",
                    std::string_view(key->privatePem.data(), key->privatePem.size()));
    if (key->certificatePem) {
        json::addString(object.get(), "certificate", *key->certificatePem);
    }
    json::add(parent, name, std::move(object));
}

std::optional<KeyRecord> readKey(const cJSON* doc, const char* name) {
    const cJSON* object = json::member(doc, name);
    if (object == nullptr) {
        return std::nullopt;
    }
    const auto pem = json::string(object, "key");
    if (!pem) {
        throw StoreError(StoreErrorKind::malformed,
                         std::string("container key without PEM: ") + name);
    }
    KeyRecord key{SecureString(pem->data(), pem->size()), std::nullopt};
    if (const auto certificate = json::string(object, "certificate")) {
        key.certificatePem = std::string(*certificate);
    }
    return key;
}

}  // namespace

std::optional<KeyRecord>* Container::slot(std::uint32_t keySpec) noexcept {
    return keySpec == 1 ? &exchange : keySpec == 2 ? &signature : nullptr;
}

const std::optional<KeyRecord>* Container::slot(std::uint32_t keySpec) const noexcept {
    return keySpec == 1 ? &exchange : keySpec == 2 ? &signature : nullptr;
}

bool isValidContainerName(std::string_view name) noexcept {
    return !name.empty() && name.size() <= kMaxContainerName &&
           name.find('\0') == std::string_view::npos;
}

std::string containerToJson(const Container& container) {
    json::Ptr doc = json::object();
    json::addString(doc.get(), "name", toHex(bytesOf(container.name)));
    addKey(doc.get(), "signature", container.signature);
    addKey(doc.get(), "exchange", container.exchange);
    const SecureString text = json::print(doc.get(), true);
    return std::string(text.data(), text.size());
}

Container containerFromJson(std::string_view text) {
    const json::Ptr doc = json::parse(text);
    const auto hexName = json::string(doc.get(), "name");
    const std::optional<Bytes> name = hexName ? fromHex(*hexName) : std::nullopt;
    Container container;
    if (name) {
        container.name.assign(name->begin(), name->end());
    }
    if (!name || !isValidContainerName(container.name)) {
        throw StoreError(StoreErrorKind::malformed, "container without a valid name");
    }
    container.signature = readKey(doc.get(), "signature");
    container.exchange = readKey(doc.get(), "exchange");
    return container;
}

std::vector<std::string> containerNames(const Store& store) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(store.file(kCspDir), ec);
    if (ec) {
        return names;
    }
    for (const fs::directory_entry& entry : it) {
        const std::string file = entry.path().filename().string();
        // Leftover "<id>.json.tmp.<pid>" files are no containers.
        if (file.size() <= 5 || file.compare(file.size() - 5, 5, kSuffix) != 0) {
            continue;
        }
        const auto text = store.readText(std::string(kCspDir) + "/" + file);
        if (text) {
            names.push_back(containerFromJson(*text).name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<Container> readContainer(const Store& store, std::string_view name) {
    if (!isValidContainerName(name)) {
        return std::nullopt;
    }
    const auto text = store.readText(fileOf(name));
    if (!text) {
        return std::nullopt;
    }
    Container container = containerFromJson(*text);
    if (container.name != name) {
        throw StoreError(StoreErrorKind::malformed, "container file holds another name");
    }
    return container;
}

bool createContainer(Store& store, std::string_view name) {
    if (!isValidContainerName(name)) {
        throw StoreError(StoreErrorKind::badSerial, "not a valid container name");
    }
    ensureFolder(store);
    bool created = false;
    store.modifyText(fileOf(name), true, [&](std::optional<std::string> current) {
        if (current) {
            return current;
        }
        created = true;
        return std::optional<std::string>(containerToJson(Container{std::string(name), {}, {}}));
    });
    return created;
}

void writeContainer(Store& store, const Container& container) {
    if (!isValidContainerName(container.name)) {
        throw StoreError(StoreErrorKind::badSerial, "not a valid container name");
    }
    ensureFolder(store);
    const std::string text = containerToJson(container);
    store.modifyText(fileOf(container.name), true,
                     [&](std::optional<std::string>) { return std::optional<std::string>(text); });
}

bool updateContainer(Store& store, std::string_view name,
                     const std::function<void(Container&)>& change) {
    if (!isValidContainerName(name)) {
        return false;
    }
    ensureFolder(store);
    bool found = false;
    store.modifyText(fileOf(name), true, [&](std::optional<std::string> current) {
        if (!current) {
            return current;
        }
        Container container = containerFromJson(*current);
        if (container.name != name) {
            throw StoreError(StoreErrorKind::malformed, "container file holds another name");
        }
        change(container);
        found = true;
        return std::optional<std::string>(containerToJson(container));
    });
    return found;
}

bool eraseContainer(Store& store, std::string_view name) {
    if (!isValidContainerName(name)) {
        return false;
    }
    bool existed = false;
    store.modifyText(fileOf(name), true, [&](std::optional<std::string> current) {
        existed = current.has_value();
        return std::optional<std::string>();
    });
    return existed;
}

}  // namespace orva::softkey::csp
