// What the key tells about itself: serial, admin-key record, temporary key,
// randoms for an issuer and its display languages.

#include <openssl/rand.h>

#include <cstring>

#include "operations.h"

namespace orva::dravik {

std::uint32_t readSerial(Call& call, void* handle, char* serial) {
    const Token& key = call.key(call.device(handle));
    putText(key.serial, serial, DRV_SERIAL_ROOM);
    return DRV_OK;
}

std::uint32_t getAdminKeyInfo(Call& call, void* handle, std::uint8_t* record) {
    const Token& key = call.key(call.device(handle));
    if (!key.adminRecord.empty()) {
        // A record set for a test: as it is, terminated or not.
        require(record != nullptr);
        std::memset(record, 0, DRV_ADMIN_RECORD_ROOM);
        putFixed(key.adminRecord, record, DRV_ADMIN_RECORD_ROOM);
        return DRV_OK;
    }
    putText(softkey::adminKeyRecord(key), reinterpret_cast<char*>(record), DRV_ADMIN_RECORD_ROOM);
    return DRV_OK;
}

std::uint32_t getTempKey(Call& call, void* handle, std::uint8_t* out, std::uint32_t* len) {
    const Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(out != nullptr && len != nullptr);
    require(device.pinVerified, DRV_E_SECURITY);
    require(!key.tempKey.empty(), DRV_E_NOT_FOUND);
    // Never more than the 64 bytes the interface promises, whatever *len says.
    std::uint32_t room = std::min<std::uint32_t>(*len, DRV_TEMP_KEY_ROOM);
    const std::uint32_t status = putBytes(key.tempKey, out, &room);
    *len = room;
    return status;
}

std::uint32_t getRandomForEnc(Call& call, void* handle, std::uint32_t len, std::uint8_t* out) {
    const Device& device = call.device(handle);
    require(out != nullptr && len >= 1 && len <= DRV_RANDOM_FOR_ENC_ROOM);
    Bytes random(len);
    require(RAND_bytes(random.data(), static_cast<int>(len)) == 1, DRV_E_INTERNAL);
    // Kept on the key for the envelope that answers it (QZAsymImportKey_ORVA).
    call.change(device, [&](Token& t) { t.randomForEnc = random; });
    putFixed(random, out, DRV_RANDOM_FOR_ENC_ROOM);
    return DRV_OK;
}

std::uint32_t getLanguageList(Call& call, void* handle, std::uint8_t* codes, std::uint32_t* count) {
    const Token& key = call.key(call.device(handle));
    require(codes != nullptr && count != nullptr);
    return putBytes(key.languages, codes, count);
}

}  // namespace orva::dravik
