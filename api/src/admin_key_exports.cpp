// Exports that read what the key keeps for its issuer: the administrator-key
// information, the temporary key and a random for the issuer's envelope. The
// last two hand their text out by rules of their own, which pages rely on.

#include <array>
#include <cstring>
#include <string>

#include "admin_key_state.h"
#include "base64_codec.h"
#include "bound_function_table.h"
#include "device_session.h"
#include "export_guard.h"
#include "maker_base64.h"
#include "orva_api.h"
#include "server_random.h"
#include "sized_output.h"
#include "token_status.h"

namespace orva::api {

namespace {

// The record's shortening needs 24 characters: bytes 22-23 move onto 18-19
// and the last four go.
constexpr std::size_t kAdminRecordMinChars = 24;
constexpr std::size_t kAdminMovedFrom = 22;
constexpr std::size_t kAdminMovedTo = 18;
constexpr std::size_t kAdminDroppedChars = 4;
// GMBankGetRand's text: 15 bytes in base64, its size without the NUL.
constexpr int kRandomTextChars = 20;

ApiErrorCode gmGetAdminKeyInfo(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        // One byte more than the key fills, so a full record is seen as
        // unterminated.
        std::array<std::uint8_t, DRV_ADMIN_RECORD_ROOM + 1> record{};
        if (const ApiErrorCode code = session.call(&DravikApi::QZGetAdminKeyInfo, record.data())
                                          .checked(kGetAdminKeyInfoError);
            code != kSuccess) {
            return code;
        }
        const char* chars = reinterpret_cast<const char*>(record.data());
        const std::size_t n = strnlen(chars, DRV_ADMIN_RECORD_ROOM);
        if (n < kAdminRecordMinChars || n == DRV_ADMIN_RECORD_ROOM) {
            return kGetAdminKeyInfoError;
        }
        text.assign(chars, n - kAdminDroppedChars);
        text[kAdminMovedTo] = chars[kAdminMovedFrom];
        text[kAdminMovedTo + 1] = chars[kAdminMovedFrom + 1];
        return kSuccess;
    });
}

ApiErrorCode gmGetTemKey(char* buffer, int* length) {
    if (!length) {
        return kInvalidParameter;
    }
    DeviceSession session;
    if (const ApiErrorCode code = openInAdminKeyState(session, kAdminKeyInitial);
        code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code = verifyPinOnKey(session, kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    std::array<std::uint8_t, DRV_TEMP_KEY_ROOM> key{};
    std::uint32_t keyLength = DRV_TEMP_KEY_ROOM;
    if (!session.call(&DravikApi::QZGetTemKey, key.data(), &keyLength).ok() ||
        keyLength > DRV_TEMP_KEY_ROOM) {
        return kGetAdminKeyInfoError;
    }
    // Its own rule: a short buffer is kBufferTooSmall and the caller is not told the size.
    const int needed = static_cast<int>(base64EncodedLength(keyLength)) + 1;
    if (!buffer) {
        *length = needed;
        return kSuccess;
    }
    if (*length < needed) {
        return kBufferTooSmall;
    }
    const std::optional<std::string> text = makerBase64(std::span(key.data(), keyLength));
    if (!text) {
        return kBase64EncodeError;
    }
    std::memcpy(buffer, text->c_str(), text->size() + 1);
    *length = needed - 1;
    return kSuccess;
}

ApiErrorCode gmBankGetRand(char* buffer, int* length) {
    if (!length) {
        return kInvalidParameter;
    }
    DeviceSession session;
    if (const ApiErrorCode code = openInAdminKeyState(session, kAdminKeyUpdated);
        code != kSuccess) {
        return code;
    }
    std::array<std::uint8_t, DRV_RANDOM_FOR_ENC_ROOM> random{};
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZGetRandomForEnc, kServerRandomSize, random.data())
                .checked(kGetAdminKeyInfoError);
        code != kSuccess) {
        return code;
    }
    // Its own rule: the size is 20 without the NUL, a short buffer is kBufferTooSmall
    // with its length left alone, and exactly 20 is enough.
    if (!buffer) {
        *length = kRandomTextChars;
        return kSuccess;
    }
    if (*length < kRandomTextChars) {
        return kBufferTooSmall;
    }
    const std::optional<std::string> text =
        makerBase64(std::span(random.data(), kServerRandomSize));
    if (!text || text->size() != kRandomTextChars) {
        return kBase64EncodeError;
    }
    // The NUL only where the caller said there is room for it.
    std::memcpy(buffer, text->data(), kRandomTextChars);
    if (*length > kRandomTextChars) {
        buffer[kRandomTextChars] = '\0';
    }
    *length = kRandomTextChars;
    return kSuccess;
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GMGetAdminKeyInfo(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmGetAdminKeyInfo(buffer, length); });
}

extern "C" int QZAPI_GMGetTemKey(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmGetTemKey(buffer, length); });
}

extern "C" int QZAPI_GMBankGetRand(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmBankGetRand(buffer, length); });
}
