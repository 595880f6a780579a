#pragma once

// The software key's content and its JSON form: what one key file in the store
// holds. The functions here keep the key's rules (index and file-id ranges,
// capacity, names); they throw TokenError with the status word the token manager
// answers when a rule is broken.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "orva/hex.h"
#include "secure_bytes.h"

namespace orva::softkey {

inline constexpr std::size_t kSerialMaxChars = 63;
inline constexpr std::size_t kLabelMaxChars = 255;
inline constexpr std::size_t kPinMaxBytes = 64;
inline constexpr std::uint32_t kMaxPinTries = 6;
inline constexpr std::size_t kContainerNameMaxChars = 259;
inline constexpr std::size_t kCertificateMaxBytes = 4096;
inline constexpr std::size_t kTempKeyMaxBytes = 64;
inline constexpr std::size_t kAdminRecordMaxBytes = 32;
inline constexpr std::size_t kDeviceKeyBytes = 16;
inline constexpr std::size_t kRandomForEncMaxBytes = 16;
inline constexpr std::size_t kMaxLanguages = 16;
inline constexpr std::uint32_t kDefaultCapacity = 16;
inline constexpr std::uint32_t kMaxContainerIndex = 255;
// Private-key file ids are odd, 1..97; the public-key file is the next id.
inline constexpr std::uint32_t kFirstPrivateFid = 1;
inline constexpr std::uint32_t kLastPrivateFid = 97;
inline constexpr std::uint32_t kMaxKeyFiles = (kLastPrivateFid + 1) / 2;

// A broken rule of the key, with the token manager's status word for it.
struct TokenError : std::runtime_error {
    TokenError(std::uint32_t status, const std::string& what)
        : std::runtime_error(what), status(status) {}
    std::uint32_t status;
};

// The user PIN: never stored, only SHA-256(salt || PIN).
struct PinState {
    Bytes salt;
    Bytes sha256;
    std::uint32_t triesLeft = kMaxPinTries;
    std::uint32_t maxTries = kMaxPinTries;
    bool isDefault = true;  // still the PIN the key was made with

    bool operator==(const PinState&) const = default;
};

// One key of a container: its algorithm id (0: none bound), its private-key file
// and its certificate (DER; empty: none).
struct KeySlot {
    std::uint32_t algorithm = 0;
    std::uint32_t privateFid = 0;
    Bytes certificate;

    bool hasKey() const noexcept { return privateFid != 0; }
    std::uint32_t publicFid() const noexcept { return hasKey() ? privateFid + 1 : 0; }

    bool operator==(const KeySlot&) const = default;
};

struct Container {
    std::string name;
    std::uint32_t usage = 0;  // 2 once a signature key is bound
    std::uint32_t type = 0;   // the usage the signature key was bound with (2, 3, 4)
    KeySlot signature;
    KeySlot exchange;
    // Members this version does not know, as the text of one JSON object
    // (empty: none), written back as read so that a later version's survive.
    SecureString laterFields;

    bool operator==(const Container&) const = default;
};

// A key pair in the key's files: the private key at its id, the public-key file
// (publicKeyFile's layout) at the id + 1.
struct KeyFile {
    SecureString privatePem;  // PKCS#8 PEM
    Bytes publicFile;

    bool operator==(const KeyFile&) const = default;
};

struct Token {
    std::string serial;
    std::string label;
    PinState pin;
    std::vector<std::uint8_t> languages{1, 2};
    std::uint8_t language = 1;
    std::uint32_t adminState = 1;  // 1 or 2
    Bytes adminRecord;             // up to 32 bytes handed out as they are; empty: made
    Bytes tempKey;
    SecureBytes deviceKey;  // kDeviceKeyBytes, enciphers QZGetEncPubKey's blocks
    Bytes randomForEnc;     // the last QZGetRandomForEnc answer; empty once used
    std::uint32_t capacity = kDefaultCapacity;
    std::map<std::uint32_t, Container> containers;  // by index (== container id), 1..255
    std::map<std::uint32_t, KeyFile> keyFiles;      // by private-key file id
    SecureString laterFields;                       // as Container's

    bool operator==(const Token&) const = default;
};

// A serial usable as a file name: 1..63 of [A-Za-z0-9._-], not starting with '.'.
bool isValidSerial(std::string_view serial) noexcept;

// A fresh key: random device key and 16-byte temporary key, the PIN given as its
// default PIN, languages [1, 2], admin state 1, no containers.
Token newToken(std::string serial, std::string_view pin, std::string label = {});

// PIN length rule: 1..kPinMaxBytes bytes.
bool isValidPin(std::string_view pin) noexcept;
// Sets the PIN with a fresh salt and gives back every try.
void setPin(Token& token, std::string_view pin, bool isDefault);
bool pinMatches(const Token& token, std::string_view pin);

// The admin-key record as QZGetAdminKeyInfo hands it out: 24 characters, bytes
// 2-3 "00" in state 1 and "01" in state 2, the rest fixed by the device key.
std::string adminKeyRecord(const Token& token);

// The 23 words of QZGetContainerInfo, word 1 first.
std::array<std::uint32_t, 23> containerWords(std::uint32_t index, const Container& container);

Container* findContainer(Token& token, std::uint32_t index) noexcept;
const Container* findContainer(const Token& token, std::uint32_t index) noexcept;
// The index of the container of that name, if any.
std::optional<std::uint32_t> findContainerByName(const Token& token, std::string_view name);

// A new empty container at the lowest free index. Throws on a bad or taken name
// (DRV_E_BAD_ARGUMENT, DRV_E_EXISTS) or a full key (DRV_E_NO_SPACE).
std::uint32_t addContainer(Token& token, std::string name);
// Deletes a container with its certificates and key files (DRV_E_NOT_FOUND).
void removeContainer(Token& token, std::uint32_t index);

// The lowest private-key file id whose id and id + 1 are both free.
std::optional<std::uint32_t> freePrivateFid(const Token& token);
bool isPrivateFid(std::uint32_t fid) noexcept;
// The container slot a private-key file is bound to, if any.
const KeySlot* slotOfKey(const Token& token, std::uint32_t privateFid) noexcept;
// Puts a key pair at a private-key file id, replacing an unbound one there.
// Throws DRV_E_BAD_ARGUMENT for an id out of range, DRV_E_CONDITIONS when a
// container's key is there.
void storeKeyPair(Token& token, std::uint32_t privateFid, SecureString privatePem,
                  Bytes publicFile);
// The key pair whose public-key file has that id (even), if any.
const KeyFile* findByPublicFid(const Token& token, std::uint32_t publicFid) noexcept;

// Binds a stored key pair to a container: usage 1 as its exchange key, usage 2,
// 3 or 4 as its signature key (the container's type becomes the usage, its
// usage word 2). algId must agree with the key (1, 2, 3 RSA; 10 SM2). A key
// already in that slot is deleted with its files.
void bindKey(Token& token, std::uint32_t index, std::uint32_t privateFid, std::uint32_t usage,
             std::uint32_t algId);
// Sets certificate file 3 (signature) or 10 (exchange) of a container.
void setCertificate(Token& token, std::uint32_t index, std::uint32_t fileId, Bytes der);

// The key file's text, and back. tokenFromJson checks every field and range and
// throws TokenError (DRV_E_INTERNAL) on anything malformed.
SecureString tokenToJson(const Token& token);
Token tokenFromJson(std::string_view text);

// Base64 as the store's files hold it: padded, no line breaks, nothing else.
std::string toBase64(std::span<const std::uint8_t> bytes);
std::optional<Bytes> fromBase64(std::string_view text);

}  // namespace orva::softkey
