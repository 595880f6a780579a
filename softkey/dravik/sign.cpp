// QZAsymSign: signatures over digests and data, and the transaction the key
// shows to its user before it signs.

#include <algorithm>

#include "key_crypto.h"
#include "operations.h"
#include "sign_packet.h"

namespace orva::dravik {

using softkey::Button;
using softkey::SecureString;

namespace {

constexpr std::size_t kSm2SignatureBytes = 64;
constexpr std::size_t kSm3DigestBytes = 32;
constexpr std::size_t kMaxTransactionBytes = 1u << 20;
constexpr std::uint32_t kFirstHashId = 4;  // SHA-1 .. SHA-512, SM3
constexpr std::uint32_t kLastHashId = 8;

// The key behind a key word (the signature private-key file id), checked against
// the algorithm the caller names.
const softkey::KeyFile& signingKey(const Token& key, const SignRequest& r) {
    const auto it = key.keyFiles.find(r.keyWord);
    require(softkey::isPrivateFid(r.keyWord) && it != key.keyFiles.end(), DRV_E_NOT_FOUND);
    const bool sm2 = softkey::algorithmOf(it->second.privatePem) == softkey::kAlgSm2;
    require(sm2 == (r.keyAlgId == softkey::kAlgSm2));
    require(sm2 || (r.hashId >= kFirstHashId && r.hashId <= kLastHashId));
    return it->second;
}

// A signature's size: SM2 r || s, RSA the modulus (the public-key file holds it
// between 2 header and 5 trailer bytes).
std::size_t signatureSize(const softkey::KeyFile& file, bool sm2) {
    constexpr std::size_t kRsaFileOverhead = 7;
    require(sm2 || file.publicFile.size() > kRsaFileOverhead, DRV_E_INTERNAL);
    return sm2 ? kSm2SignatureBytes : file.publicFile.size() - kRsaFileOverhead;
}

// The room check comes before anything is shown or signed.
void requireRoom(const SignRequest& r, std::size_t size) {
    require(r.signature != nullptr && r.signatureLen != nullptr);
    if (*r.signatureLen < size) {
        *r.signatureLen = static_cast<std::uint32_t>(size);
        fail(DRV_E_BUFFER_TOO_SMALL);
    }
}

std::uint32_t giveSignature(const Bytes& signature, const SignRequest& r) {
    require(signature.size() <= *r.signatureLen, DRV_E_INTERNAL);
    return putBytes(signature, r.signature, r.signatureLen);
}

Bytes signData(const softkey::KeyFile& file, bool sm2, std::uint32_t hashId,
               std::span<const std::uint8_t> data) {
    return sm2 ? softkey::sm2SignData(file.privatePem, data)
               : softkey::rsaSignData(file.privatePem, hashId, data);
}

std::uint32_t prepare(Device& device, const SignRequest& r, std::span<const std::uint8_t> data) {
    require(r.form == softkey::kPacketFormText || r.form == softkey::kPacketFormBinary);
    require(data.size() <= kMaxTransactionBytes);
    require(!data.empty(), DRV_E_BAD_TRANSACTION);
    device.prepared = Prepared{Bytes(data.begin(), data.end()), r.form};
    return DRV_PREPARED;
}

std::uint32_t signDirect(Device& device, const Token& key, const SignRequest& r,
                         std::span<const std::uint8_t> data) {
    require(device.pinVerified, DRV_E_SECURITY);
    const softkey::KeyFile& file = signingKey(key, r);
    const bool sm2 = r.keyAlgId == softkey::kAlgSm2;
    if (r.op == DRV_SIGN_DIGEST) {
        require(sm2 && data.size() == kSm3DigestBytes);
    }
    requireRoom(r, signatureSize(file, sm2));
    const Bytes signature = r.op == DRV_SIGN_DIGEST ? softkey::sm2SignDigest(file.privatePem, data)
                                                    : signData(file, sm2, r.hashId, data);
    return giveSignature(signature, r);
}

// What the user does once the text is on the display: the PIN when none is
// cached, then the button.
std::uint32_t userDecides(Call& call, Device& device, const softkey::ScriptedUser& user,
                          std::string& outcome) {
    if (!device.pinVerified) {
        SecureString pin;
        std::uint32_t status = askPin(user, false, pin);
        if (status == DRV_OK) {
            status = checkPin(call, device, std::string_view(pin.data(), pin.size()));
        }
        if (status != DRV_OK) {
            outcome = status == DRV_E_CANCELLED                   ? "cancelled"
                      : status == DRV_E_TIMEOUT                   ? "timeout"
                      : status == DRV_E_BUTTON_BROKEN             ? "broken"
                      : status == DRV_E_PIN_LOCKED                ? "pinLocked"
                      : status == DRV_E_DEFAULT_PIN               ? "defaultPin"
                      : (status & ~0x0Fu) == DRV_E_WRONG_PIN_BASE ? "wrongPin"
                                                                  : "failed";
            return status;
        }
        device.pinVerified = true;
    }
    switch (user.button) {
        case Button::confirm:
            outcome = "signed";
            return DRV_OK;
        case Button::cancel:
            outcome = "cancelled";
            return DRV_E_CANCELLED;
        case Button::timeout:
            outcome = "timeout";
            return DRV_E_TIMEOUT;
        case Button::broken:
            outcome = "broken";
            return DRV_E_BUTTON_BROKEN;
    }
    return DRV_E_INTERNAL;
}

std::uint32_t confirmAndSign(Call& call, Device& device, const Token& key, const SignRequest& r,
                             std::span<const std::uint8_t> packet) {
    // One show per preparation, whatever becomes of it.
    require(device.prepared.has_value(), DRV_E_CONDITIONS);
    const Prepared prepared = std::move(*device.prepared);
    device.prepared.reset();

    const auto view = softkey::parseSignPacket(r.form, packet);
    require(view.has_value() && r.form == prepared.form &&
                std::equal(view->transaction.begin(), view->transaction.end(),
                           prepared.transaction.begin(), prepared.transaction.end()),
            DRV_E_BAD_TRANSACTION);
    require(!view->display.empty(), DRV_E_EMPTY_DISPLAY);
    const softkey::KeyFile& file = signingKey(key, r);
    const bool sm2 = r.keyAlgId == softkey::kAlgSm2;
    requireRoom(r, signatureSize(file, sm2));
    const auto tips = input(r.tips, r.tipsLen);

    softkey::DisplayShow show{.serial = key.serial,
                              .language = r.language,
                              .charset = r.charset,
                              .warning = Bytes(tips.begin(), tips.end()),
                              .display = Bytes(view->display.begin(), view->display.end()),
                              .form = r.form,
                              .outcome = {},
                              .status = 0};
    std::uint32_t status = DRV_E_INTERNAL;
    Bytes signature;
    try {
        status = userDecides(call, device, call.user(device), show.outcome);
        if (status == DRV_OK) {
            signature = signData(file, sm2, r.hashId, packet);
        }
    } catch (...) {
        status = currentStatus();
        show.outcome = "failed";
    }
    show.status = status;
    softkey::appendDisplayShow(call.store(), show);
    return status == DRV_OK ? giveSignature(signature, r) : status;
}

}  // namespace

std::uint32_t asymSign(Call& call, void* handle, const SignRequest& r) {
    Device& device = call.device(handle);
    const Token& key = call.key(device);
    const auto data = input(r.data, r.dataLen);
    switch (r.op) {
        case DRV_SIGN_PREPARE:
            return prepare(device, r, data);
        case DRV_SIGN_DIGEST:
        case DRV_SIGN_DATA:
            return signDirect(device, key, r, data);
        case DRV_SIGN_CONFIRM:
            return confirmAndSign(call, device, key, r, data);
        default:
            fail(DRV_E_BAD_ARGUMENT);
    }
}

}  // namespace orva::dravik
