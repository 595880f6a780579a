#include "token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <new>
#include <set>

#include "json.h"
#include "key_crypto.h"
#include "maker/dravik.h"
#include "orva/openssl_ptr.h"

namespace orva::softkey {

namespace {

inline constexpr std::size_t kSaltBytes = 16;
inline constexpr std::size_t kSha256Bytes = 32;
inline constexpr std::size_t kTempKeyDefaultBytes = 16;
inline constexpr std::size_t kPublicFileMaxBytes = 1024;
inline constexpr std::uint32_t kMaxTriesLimit = 15;  // tries fit the low nibble of 0x63Cn

[[noreturn]] void malformed(const std::string& what) {
    throw TokenError(DRV_E_INTERNAL, "malformed key file: " + what);
}

Bytes randomBytes(std::size_t n) {
    Bytes out(n);
    if (n > INT_MAX || RAND_bytes(out.data(), static_cast<int>(n)) != 1) {
        throw std::runtime_error("no random bytes");
    }
    return out;
}

Bytes sha256(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (ctx == nullptr) {
        throw std::bad_alloc();
    }
    Bytes out(kSha256Bytes);
    unsigned int size = 0;
    const bool ok = EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(ctx.get(), a.data(), a.size()) == 1 &&
                    EVP_DigestUpdate(ctx.get(), b.data(), b.size()) == 1 &&
                    EVP_DigestFinal_ex(ctx.get(), out.data(), &size) == 1;
    if (!ok || size != kSha256Bytes) {
        throw std::runtime_error("SHA-256 failed");
    }
    return out;
}

Bytes pinDigest(std::span<const std::uint8_t> salt, std::string_view pin) {
    return sha256(salt, std::span(reinterpret_cast<const std::uint8_t*>(pin.data()), pin.size()));
}

// The key size an algorithm id stands for: 2 for RSA-1024 (ids 1 and 2), 3, 10.
std::uint32_t keyKind(std::uint32_t algId) {
    return algId == kAlgRsa ? kAlgRsa1024 : algId;
}

bool isKeyAlgorithm(std::uint32_t algId) {
    return algId == kAlgRsa || algId == kAlgRsa1024 || algId == kAlgRsa2048 || algId == kAlgSm2;
}

// --- JSON form ---------------------------------------------------------------

json::Ptr slotToJson(const KeySlot& slot) {
    json::Ptr o = json::object();
    json::addNumber(o.get(), "algorithm", slot.algorithm);
    json::addNumber(o.get(), "privateFid", slot.privateFid);
    json::addString(o.get(), "certificate", toBase64(slot.certificate));
    return o;
}

Bytes bytesMember(const cJSON* o, const char* name, bool hex, std::size_t maxBytes,
                  const std::string& where) {
    const cJSON* item = json::member(o, name);
    if (item == nullptr) {
        return {};
    }
    const auto text = json::string(item);
    if (!text) {
        malformed(where + name + " is not a text");
    }
    std::optional<Bytes> bytes = hex ? fromHex(*text) : fromBase64(*text);
    if (!bytes || bytes->size() > maxBytes) {
        malformed(where + name + " is not valid or too long");
    }
    return std::move(*bytes);
}

std::uint32_t uintMember(const cJSON* o, const char* name, std::uint32_t max,
                         const std::string& where) {
    const auto v = json::uint(o, name, max);
    if (!v) {
        malformed(where + name + " is missing or out of range");
    }
    return *v;
}

KeySlot slotFromJson(const cJSON* o, const std::string& where) {
    KeySlot slot;
    if (o == nullptr) {
        return slot;
    }
    if (!cJSON_IsObject(o)) {
        malformed(where + " is not an object");
    }
    slot.algorithm = uintMember(o, "algorithm", kAlgSm2, where + ".");
    slot.privateFid = uintMember(o, "privateFid", kLastPrivateFid, where + ".");
    slot.certificate = bytesMember(o, "certificate", false, kCertificateMaxBytes, where + ".");
    if ((slot.algorithm == 0) != (slot.privateFid == 0) ||
        (slot.algorithm != 0 && !isKeyAlgorithm(slot.algorithm)) ||
        (slot.privateFid != 0 && !isPrivateFid(slot.privateFid))) {
        malformed(where + " has an inconsistent key");
    }
    return slot;
}

constexpr std::string_view kTopFields[] = {"format",      "serial",     "label",     "pin",
                                           "defaultPin",  "languages",  "language",  "adminState",
                                           "adminRecord", "tempKey",    "deviceKey", "randomForEnc",
                                           "capacity",    "containers", "keyFiles"};
constexpr std::string_view kContainerFields[] = {"index", "usage",     "type",
                                                 "name",  "signature", "exchange"};

// The members of object not named in known, as one object's text.
SecureString laterFieldsOf(const cJSON* object, std::span<const std::string_view> known) {
    json::Ptr later;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, object) {
        if (std::find(known.begin(), known.end(), std::string_view(item->string)) != known.end()) {
            continue;
        }
        if (later == nullptr) {
            later = json::object();
        }
        json::add(later.get(), item->string, json::Ptr(json::made(cJSON_Duplicate(item, true))));
    }
    return later == nullptr ? SecureString() : json::print(later.get(), false);
}

// Adds back what laterFieldsOf kept, after the members this version writes.
void addLaterFields(cJSON* object, const SecureString& fields) {
    if (fields.empty()) {
        return;
    }
    const json::Ptr later = json::parse(std::string_view(fields.data(), fields.size()));
    if (!cJSON_IsObject(later.get())) {
        throw std::logic_error("later fields are not an object");
    }
    while (cJSON* item = later->child) {
        json::add(object, item->string, json::Ptr(cJSON_DetachItemViaPointer(later.get(), item)));
    }
}

// --- reading a key file, one part at a time ---------------------------------

void identityFromJson(const cJSON* r, Token& token) {
    const auto serial = json::string(r, "serial");
    if (!serial || !isValidSerial(*serial)) {
        malformed("serial");
    }
    token.serial = *serial;
    if (json::member(r, "label") != nullptr) {
        const auto label = json::string(r, "label");
        if (!label || label->size() > kLabelMaxChars) {
            malformed("label");
        }
        token.label = *label;
    }
}

void pinFromJson(const cJSON* r, Token& token) {
    const cJSON* pin = json::member(r, "pin");
    if (!cJSON_IsObject(pin)) {
        malformed("pin");
    }
    token.pin.salt = bytesMember(pin, "salt", true, 64, "pin.");
    token.pin.sha256 = bytesMember(pin, "sha256", true, kSha256Bytes, "pin.");
    token.pin.maxTries = json::member(pin, "maxTries") == nullptr
                             ? kMaxPinTries
                             : uintMember(pin, "maxTries", kMaxTriesLimit, "pin.");
    token.pin.triesLeft = uintMember(pin, "triesLeft", token.pin.maxTries, "pin.");
    if (token.pin.salt.empty() || token.pin.sha256.size() != kSha256Bytes ||
        token.pin.maxTries == 0) {
        malformed("pin");
    }
    const auto isDefault = json::boolean(r, "defaultPin");
    if (!isDefault) {
        malformed("defaultPin");
    }
    token.pin.isDefault = *isDefault;
}

void languagesFromJson(const cJSON* r, Token& token) {
    if (const cJSON* languages = json::member(r, "languages"); languages != nullptr) {
        if (!cJSON_IsArray(languages) || cJSON_GetArraySize(languages) < 1 ||
            static_cast<std::size_t>(cJSON_GetArraySize(languages)) > kMaxLanguages) {
            malformed("languages");
        }
        token.languages.clear();
        const cJSON* code = nullptr;
        cJSON_ArrayForEach(code, languages) {
            const auto v = json::uint(code, 255);
            if (!v || *v == 0) {
                malformed("languages");
            }
            token.languages.push_back(static_cast<std::uint8_t>(*v));
        }
    }
    if (json::member(r, "language") != nullptr) {
        token.language = static_cast<std::uint8_t>(uintMember(r, "language", 255, ""));
    }
}

// Administration state, the token's own keys and its container capacity.
void stateFromJson(const cJSON* r, Token& token) {
    if (json::member(r, "adminState") != nullptr) {
        token.adminState = uintMember(r, "adminState", 2, "");
        if (token.adminState == 0) {
            malformed("adminState");
        }
    }
    token.adminRecord = bytesMember(r, "adminRecord", true, kAdminRecordMaxBytes, "");
    token.tempKey = bytesMember(r, "tempKey", true, kTempKeyMaxBytes, "");
    const Bytes deviceKey = bytesMember(r, "deviceKey", true, kDeviceKeyBytes, "");
    if (deviceKey.size() != kDeviceKeyBytes) {
        malformed("deviceKey");
    }
    token.deviceKey.assign(deviceKey.begin(), deviceKey.end());
    token.randomForEnc = bytesMember(r, "randomForEnc", true, kRandomForEncMaxBytes, "");
    if (json::member(r, "capacity") != nullptr) {
        token.capacity = uintMember(r, "capacity", kMaxContainerIndex, "");
        if (token.capacity == 0) {
            malformed("capacity");
        }
    }
}

void keyFilesFromJson(const cJSON* r, Token& token) {
    const cJSON* files = json::member(r, "keyFiles");
    if (files == nullptr) {
        return;
    }
    if (!cJSON_IsArray(files)) {
        malformed("keyFiles");
    }
    const cJSON* o = nullptr;
    cJSON_ArrayForEach(o, files) {
        const std::uint32_t fid = uintMember(o, "privateFid", kLastPrivateFid, "keyFiles.");
        const auto pem = json::string(o, "privateKey");
        Bytes publicFile = bytesMember(o, "publicFile", true, kPublicFileMaxBytes, "keyFiles.");
        if (!isPrivateFid(fid) || !pem || pem->find("-----BEGIN ") == std::string::npos ||
            publicFile.empty()) {
            malformed("key file " + std::to_string(fid));
        }
        const bool added =
            token.keyFiles
                .emplace(fid, KeyFile{.privatePem = SecureString(pem->data(), pem->size()),
                                      .publicFile = std::move(publicFile)})
                .second;
        if (!added) {
            malformed("key file " + std::to_string(fid) + " twice");
        }
    }
}

// Reads one container into token; boundFids are the key files containers read so far bind.
void containerFromJson(const cJSON* o, Token& token, std::set<std::uint32_t>& boundFids) {
    const std::uint32_t index = uintMember(o, "index", kMaxContainerIndex, "containers.");
    const std::string where = "container " + std::to_string(index);
    const auto name = json::string(o, "name");
    if (index == 0 || !name || name->empty() || name->size() > kContainerNameMaxChars) {
        malformed(where);
    }
    Container c{.name = std::string(*name),
                .usage = uintMember(o, "usage", UINT32_MAX, where + "."),
                .type = uintMember(o, "type", UINT32_MAX, where + "."),
                .signature = slotFromJson(json::member(o, "signature"), where + ".signature"),
                .exchange = slotFromJson(json::member(o, "exchange"), where + ".exchange"),
                .laterFields = laterFieldsOf(o, kContainerFields)};
    for (const KeySlot* slot : {&c.signature, &c.exchange}) {
        if (slot->hasKey() && (!token.keyFiles.contains(slot->privateFid) ||
                               !boundFids.insert(slot->privateFid).second)) {
            malformed(where + " binds a missing or shared key file");
        }
    }
    if (findContainerByName(token, c.name) ||
        !token.containers.emplace(index, std::move(c)).second) {
        malformed(where + " twice");
    }
}

// Needs the key files read first: a container may bind only a key file the token has.
void containersFromJson(const cJSON* r, Token& token) {
    const cJSON* containers = json::member(r, "containers");
    if (containers == nullptr) {
        return;
    }
    if (!cJSON_IsArray(containers)) {
        malformed("containers");
    }
    std::set<std::uint32_t> boundFids;
    const cJSON* o = nullptr;
    cJSON_ArrayForEach(o, containers) {
        containerFromJson(o, token, boundFids);
    }
}

}  // namespace

// --- encodings ---------------------------------------------------------------

std::string toBase64(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) / 4 * 3) {
        throw std::length_error("too many bytes for base64");
    }
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                        static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::optional<Bytes> fromBase64(std::string_view text) {
    // The decoder skips blanks and takes '=' anywhere as zero bits; the files
    // hold the strict form only.
    if (text.size() % 4 != 0 ||
        text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    const std::size_t pad = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    const bool alphabet =
        std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(pad), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '+' || c == '/';
        });
    if (!alphabet) {
        return std::nullopt;
    }
    Bytes out(text.size() / 4 * 3);
    const int decoded =
        EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (decoded < 0 || static_cast<std::size_t>(decoded) != out.size()) {
        return std::nullopt;
    }
    out.resize(out.size() - pad);
    return out;
}

// --- the key's rules ---------------------------------------------------------

bool isValidSerial(std::string_view serial) noexcept {
    if (serial.empty() || serial.size() > kSerialMaxChars || serial.front() == '.') {
        return false;
    }
    return std::all_of(serial.begin(), serial.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

bool isValidPin(std::string_view pin) noexcept {
    return !pin.empty() && pin.size() <= kPinMaxBytes;
}

Token newToken(std::string serial, std::string_view pin, std::string label) {
    if (!isValidSerial(serial)) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "not a valid serial: " + serial);
    }
    if (label.size() > kLabelMaxChars) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "label too long");
    }
    Token token;
    token.serial = std::move(serial);
    token.label = std::move(label);
    setPin(token, pin, true);
    const Bytes deviceKey = randomBytes(kDeviceKeyBytes);
    token.deviceKey.assign(deviceKey.begin(), deviceKey.end());
    token.tempKey = randomBytes(kTempKeyDefaultBytes);
    return token;
}

void setPin(Token& token, std::string_view pin, bool isDefault) {
    if (!isValidPin(pin)) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "a PIN has 1 to 64 bytes");
    }
    token.pin.salt = randomBytes(kSaltBytes);
    token.pin.sha256 = pinDigest(token.pin.salt, pin);
    token.pin.triesLeft = token.pin.maxTries;
    token.pin.isDefault = isDefault;
}

bool pinMatches(const Token& token, std::string_view pin) {
    const Bytes digest = pinDigest(token.pin.salt, pin);
    return digest.size() == token.pin.sha256.size() &&
           CRYPTO_memcmp(digest.data(), token.pin.sha256.data(), digest.size()) == 0;
}

std::string adminKeyRecord(const Token& token) {
    static constexpr std::string_view kTag = "admin-key";
    const Bytes id =
        sha256(std::span(reinterpret_cast<const std::uint8_t*>(kTag.data()), kTag.size()),
               std::span(token.deviceKey.data(), token.deviceKey.size()));
    std::string text = "A1";
    text += token.adminState == 1 ? "00" : "01";
    std::string tail = toHex(std::span(id).first(10));
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    return text + tail;
}

std::array<std::uint32_t, 23> containerWords(std::uint32_t index, const Container& c) {
    std::array<std::uint32_t, 23> w{};
    w[0] = index;
    w[1] = c.usage;
    w[2] = c.signature.algorithm;
    w[3] = c.exchange.algorithm;
    w[5] = c.signature.hasKey() ? 1 : 0;
    w[6] = c.signature.certificate.empty() ? 0 : 1;
    w[8] = c.exchange.hasKey() ? 1 : 0;
    w[9] = c.exchange.certificate.empty() ? 0 : 1;
    w[10] = c.signature.privateFid;
    w[11] = c.signature.publicFid();
    w[17] = c.exchange.publicFid();
    w[22] = c.type;
    return w;
}

Container* findContainer(Token& token, std::uint32_t index) noexcept {
    const auto it = token.containers.find(index);
    return it == token.containers.end() ? nullptr : &it->second;
}

const Container* findContainer(const Token& token, std::uint32_t index) noexcept {
    const auto it = token.containers.find(index);
    return it == token.containers.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> findContainerByName(const Token& token, std::string_view name) {
    for (const auto& [index, c] : token.containers) {
        if (c.name == name) {
            return index;
        }
    }
    return std::nullopt;
}

std::uint32_t addContainer(Token& token, std::string name) {
    if (name.empty() || name.size() > kContainerNameMaxChars ||
        name.find('\0') != std::string::npos) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "a container name has 1 to 259 characters");
    }
    if (findContainerByName(token, name)) {
        throw TokenError(DRV_E_EXISTS, "a container named " + name + " exists");
    }
    if (token.containers.size() >= token.capacity) {
        throw TokenError(DRV_E_NO_SPACE, "the key holds no more containers");
    }
    std::uint32_t index = 1;
    for (const auto& entry : token.containers) {
        if (entry.first != index) {
            break;
        }
        ++index;
    }
    if (index > kMaxContainerIndex) {
        throw TokenError(DRV_E_NO_SPACE, "no free container index");
    }
    Container container;
    container.name = std::move(name);
    token.containers.emplace(index, std::move(container));
    return index;
}

void removeContainer(Token& token, std::uint32_t index) {
    const Container* c = findContainer(token, index);
    if (c == nullptr) {
        throw TokenError(DRV_E_NOT_FOUND, "no container " + std::to_string(index));
    }
    token.keyFiles.erase(c->signature.privateFid);
    token.keyFiles.erase(c->exchange.privateFid);
    token.containers.erase(index);
}

bool isPrivateFid(std::uint32_t fid) noexcept {
    return fid >= kFirstPrivateFid && fid <= kLastPrivateFid && fid % 2 == 1;
}

std::optional<std::uint32_t> freePrivateFid(const Token& token) {
    for (std::uint32_t fid = kFirstPrivateFid; fid <= kLastPrivateFid; fid += 2) {
        if (!token.keyFiles.contains(fid)) {
            return fid;
        }
    }
    return std::nullopt;
}

const KeySlot* slotOfKey(const Token& token, std::uint32_t privateFid) noexcept {
    if (privateFid == 0) {
        return nullptr;  // 0 marks an empty slot, not a key file
    }
    for (const auto& [index, c] : token.containers) {
        if (c.signature.privateFid == privateFid) {
            return &c.signature;
        }
        if (c.exchange.privateFid == privateFid) {
            return &c.exchange;
        }
    }
    return nullptr;
}

void storeKeyPair(Token& token, std::uint32_t privateFid, SecureString privatePem,
                  Bytes publicFile) {
    if (!isPrivateFid(privateFid)) {
        throw TokenError(DRV_E_BAD_ARGUMENT,
                         "not a private-key file id: " + std::to_string(privateFid));
    }
    if (slotOfKey(token, privateFid) != nullptr) {
        throw TokenError(DRV_E_CONDITIONS,
                         "file " + std::to_string(privateFid) + " holds a container's key");
    }
    token.keyFiles.insert_or_assign(privateFid, KeyFile{.privatePem = std::move(privatePem),
                                                        .publicFile = std::move(publicFile)});
}

const KeyFile* findByPublicFid(const Token& token, std::uint32_t publicFid) noexcept {
    if (publicFid < 2 || publicFid % 2 != 0) {
        return nullptr;
    }
    const auto it = token.keyFiles.find(publicFid - 1);
    return it == token.keyFiles.end() ? nullptr : &it->second;
}

void bindKey(Token& token, std::uint32_t index, std::uint32_t privateFid, std::uint32_t usage,
             std::uint32_t algId) {
    Container* c = findContainer(token, index);
    if (c == nullptr) {
        throw TokenError(DRV_E_NOT_FOUND, "no container " + std::to_string(index));
    }
    if (!isPrivateFid(privateFid) || !isKeyAlgorithm(algId) || usage < 1 || usage > 4) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "bad key binding");
    }
    const auto key = token.keyFiles.find(privateFid);
    if (key == token.keyFiles.end()) {
        throw TokenError(DRV_E_NOT_FOUND, "no key in file " + std::to_string(privateFid));
    }
    if (algorithmOf(key->second.privatePem) != keyKind(algId)) {
        throw TokenError(DRV_E_BAD_ARGUMENT,
                         "the key is not of algorithm " + std::to_string(algId));
    }
    KeySlot& slot = usage == 1 ? c->exchange : c->signature;
    const KeySlot* bound = slotOfKey(token, privateFid);
    if (bound != nullptr && bound != &slot) {
        throw TokenError(DRV_E_CONDITIONS, "the key is bound to another container");
    }
    if (slot.hasKey() && slot.privateFid != privateFid) {
        token.keyFiles.erase(slot.privateFid);
    }
    slot.algorithm = algId;
    slot.privateFid = privateFid;
    if (usage != 1) {
        c->type = usage;
        c->usage = 2;
    }
}

void setCertificate(Token& token, std::uint32_t index, std::uint32_t fileId, Bytes der) {
    Container* c = findContainer(token, index);
    if (c == nullptr) {
        throw TokenError(DRV_E_NOT_FOUND, "no container " + std::to_string(index));
    }
    if ((fileId != DRV_FILE_SIGN_CERT && fileId != DRV_FILE_EXCH_CERT) || der.empty() ||
        der.size() > kCertificateMaxBytes) {
        throw TokenError(DRV_E_BAD_ARGUMENT, "bad certificate file");
    }
    (fileId == DRV_FILE_SIGN_CERT ? c->signature : c->exchange).certificate = std::move(der);
}

// --- JSON form ---------------------------------------------------------------

SecureString tokenToJson(const Token& token) {
    json::Ptr root = json::object();
    cJSON* r = root.get();
    json::addNumber(r, "format", 1);
    json::addString(r, "serial", token.serial);
    json::addString(r, "label", token.label);

    json::Ptr pin = json::object();
    json::addString(pin.get(), "salt", toHex(token.pin.salt));
    json::addString(pin.get(), "sha256", toHex(token.pin.sha256));
    json::addNumber(pin.get(), "triesLeft", token.pin.triesLeft);
    json::addNumber(pin.get(), "maxTries", token.pin.maxTries);
    json::add(r, "pin", std::move(pin));
    json::addBool(r, "defaultPin", token.pin.isDefault);

    json::Ptr languages = json::array();
    for (const std::uint8_t code : token.languages) {
        json::addNumber(languages.get(), nullptr, code);
    }
    json::add(r, "languages", std::move(languages));
    json::addNumber(r, "language", token.language);
    json::addNumber(r, "adminState", token.adminState);
    if (!token.adminRecord.empty()) {
        json::addString(r, "adminRecord", toHex(token.adminRecord));
    }
    json::addString(r, "tempKey", toHex(token.tempKey));
    json::addString(r, "deviceKey",
                    toHex(std::span(token.deviceKey.data(), token.deviceKey.size())));
    json::addString(r, "randomForEnc", toHex(token.randomForEnc));
    json::addNumber(r, "capacity", token.capacity);

    json::Ptr containers = json::array();
    for (const auto& [index, c] : token.containers) {
        json::Ptr o = json::object();
        json::addNumber(o.get(), "index", index);
        json::addString(o.get(), "name", c.name);
        json::addNumber(o.get(), "usage", c.usage);
        json::addNumber(o.get(), "type", c.type);
        json::add(o.get(), "signature", slotToJson(c.signature));
        json::add(o.get(), "exchange", slotToJson(c.exchange));
        addLaterFields(o.get(), c.laterFields);
        json::add(containers.get(), nullptr, std::move(o));
    }
    json::add(r, "containers", std::move(containers));

    json::Ptr keyFiles = json::array();
    for (const auto& [fid, k] : token.keyFiles) {
        json::Ptr o = json::object();
        json::addNumber(o.get(), "privateFid", fid);
        json::addString(o.get(), "privateKey",
                        std::string_view(k.privatePem.data(), k.privatePem.size()));
        json::addString(o.get(), "publicFile", toHex(k.publicFile));
        json::add(keyFiles.get(), nullptr, std::move(o));
    }
    json::add(r, "keyFiles", std::move(keyFiles));
    addLaterFields(r, token.laterFields);

    SecureString text = json::print(r, true);
    text.push_back('\n');
    return text;
}

Token tokenFromJson(std::string_view text) {
    const json::Ptr doc = json::parse(text);
    if (!cJSON_IsObject(doc.get())) {
        malformed("not a JSON object");
    }
    const cJSON* r = doc.get();
    Token token;
    identityFromJson(r, token);
    pinFromJson(r, token);
    languagesFromJson(r, token);
    stateFromJson(r, token);
    keyFilesFromJson(r, token);
    containersFromJson(r, token);
    token.laterFields = laterFieldsOf(r, kTopFields);
    return token;
}

}  // namespace orva::softkey
