#include "usb_key_sign.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "attached_file.h"
#include "base64_codec.h"
#include "bound_function_table.h"
#include "der_writer.h"
#include "device_session.h"
#include "foreground_window.h"
#include "hash_ids.h"
#include "hash_name.h"
#include "output_file.h"
#include "pkcs7_signed_data.h"
#include "process_state.h"
#include "result.h"
#include "sign_packet_writer.h"
#include "signer_cn.h"
#include "signer_selection.h"
#include "token_status.h"

namespace orva::api {

namespace {

// The room the key gets for its signature, in both steps.
constexpr std::uint32_t kSignatureRoom = 1024;
constexpr std::size_t kDisplayTextLimit = 900;
constexpr std::uint32_t kPacketFormText = 1;
constexpr std::uint32_t kPacketFormBinary = 2;
constexpr int kIntMax = std::numeric_limits<int>::max();

bool isEmpty(const char* text) noexcept {
    return text == nullptr || *text == '\0';
}

std::string_view textOrEmpty(const char* text) noexcept {
    return text == nullptr ? std::string_view() : std::string_view(text);
}

// Every path after the session opened clears the key's PIN cache before the
// session closes.
class PinCacheClearer {
  public:
    explicit PinCacheClearer(const DeviceSession& session) noexcept : session_(session) {}
    ~PinCacheClearer() {
        // Its answer changes nothing: the call's code is decided by then.
        static_cast<void>(session_.call(&DravikApi::QZClearPINCache, DRV_DEVICE_AUTH_KEY));
    }
    PinCacheClearer(const PinCacheClearer&) = delete;
    PinCacheClearer& operator=(const PinCacheClearer&) = delete;

  private:
    const DeviceSession& session_;
};

// What one signature is about, fixed by RunUsbKeySign.
struct Transaction {
    std::string_view signerDn;
    int hashId = kHashIdNone;
    std::span<const std::uint8_t> xml;
    AttachedFile* attachedFile = nullptr;
    std::string_view display;
};

// The key's signature buffer with the length it reports.
struct KeySignature {
    std::array<std::uint8_t, kSignatureRoom> bytes{};
    std::uint32_t length = kSignatureRoom;
};

// QZAsymSign with the chosen key and the process's settings; op 3 prepares the
// transaction, op 5 shows the packet and signs it into the key's signature
// buffer.
MakerStatus keySign(const DeviceSession& session, const SignerChoice& signer, int hashId,
                    const Transaction& transaction, std::uint32_t op,
                    std::span<const std::uint8_t> data, KeySignature& signature) {
    const ProcessState& state = processState();
    return session.call(
        &DravikApi::QZAsymSign, static_cast<std::uint32_t>(hashId), signer.algorithmId,
        signer.packetForm, signer.containerWord, state.deviceLanguage, state.apiCharset,
        state.warningTips.text.get(), static_cast<std::uint32_t>(state.warningTips.length),
        transaction.display.data(), static_cast<std::uint32_t>(transaction.display.size()), op,
        data.data(), static_cast<std::uint32_t>(data.size()), signature.bytes.data(),
        &signature.length);
}

bool isBlank(std::string_view text) noexcept {
    return text.find_first_not_of(" \r\n") == std::string_view::npos;
}

// The SignedData around a signature, borrowing the packet. SM3 means an SM2
// key.
[[nodiscard]] std::optional<DerChain> buildSignedData(int hashId,
                                                      std::span<const std::uint8_t> packet,
                                                      const Bytes& certificate,
                                                      std::span<const std::uint8_t> signature) {
    if (hashId == kHashIdSm3) {
        return buildPkcs7SignedDataSm2(packet, kContentEmbedded, certificate, signature);
    }
    return buildPkcs7SignedDataRsa(packet, kContentEmbedded, certificate, signature, hashId);
}

// The signer's container and the hash its key can use.
struct ChosenSigner {
    SignerChoice signer;
    int hashId = kHashIdNone;
    bool sm2 = false;
};

// The packet the key will sign, and the sizes of what is built around it.
struct SizedPacket {
    Bytes packet;
    std::size_t signedDataSize = 0;
    std::size_t base64Length = 0;
};

// The signer's container; its common name is kept for file names.
Result<ChosenSigner> chooseSigner(const DeviceSession& session, const Transaction& transaction,
                                  SignerSelector selector) {
    Result<SignerChoice> signer =
        selectSigner(session, transaction.signerDn, transaction.hashId, selector);
    if (!signer) {
        return signer.code();
    }
    setSignerCn(signer->commonName);

    ChosenSigner chosen{std::move(*signer)};
    chosen.sm2 = chosen.signer.keyBits == kSm2KeyBits;
    chosen.hashId = transaction.hashId;
    if (chosen.hashId == kHashIdNone) {
        chosen.hashId = chosen.sm2 ? kHashIdSm3 : kHashIdSha1;
    } else if ((chosen.hashId == kHashIdSm3) != chosen.sm2) {
        return kInvalidHashType;
    }
    return chosen;
}

// The key prepares the transaction; then the text it will show is checked.
ApiErrorCode prepareTransaction(const DeviceSession& session, const ChosenSigner& chosen,
                                const Transaction& transaction, KeySignature& signature) {
    if (!keySign(session, chosen.signer, chosen.hashId, transaction, DRV_SIGN_PREPARE,
                 transaction.xml, signature)
             .is(DRV_PREPARED)) {
        return kNotTradeData;
    }
    if (transaction.display.empty()) {
        return kKeyShowNull;
    }
    if (transaction.display.size() > kDisplayTextLimit) {
        return kKeyShowTooLong;
    }
    if (isBlank(transaction.display)) {
        return kKeyShowNull;
    }
    return kSuccess;
}

// The packet in the container's form, and the sizes of the SignedData and of
// its base64 text.
Result<SizedPacket> buildAndSize(const ChosenSigner& chosen, const Transaction& transaction) {
    SizedPacket sized;
    const Result<std::size_t> estimate = estimateSignPacketSize(
        transaction.xml.size(), transaction.display.size(), *transaction.attachedFile);
    if (!estimate) {
        return estimate.code();
    }
    Bytes& packet = sized.packet;
    packet.resize(*estimate);

    // The builders stop at the room they are given, so a file that grew since
    // the estimate fails cleanly.
    const std::string_view xmlText(reinterpret_cast<const char*>(transaction.xml.data()),
                                   transaction.xml.size());
    const bool binary = chosen.signer.packetForm == kPacketFormBinary;
    if (!binary && chosen.signer.packetForm != kPacketFormText) {
        return kNoMatchCertificate;
    }
    const Result<std::size_t> packetLength =
        binary
            ? buildSignPacketBinary(xmlText, transaction.display, *transaction.attachedFile, packet)
            : buildSignPacketText(xmlText, transaction.display, *transaction.attachedFile, packet);
    if (!packetLength) {
        return packetLength.code();
    }
    // A file checked before the call must not have been written to since: its
    // bytes are in the packet now.
    if (!transaction.attachedFile->unchanged()) {
        return kTokenInfoError;
    }
    packet.resize(*packetLength);
    if (packet.size() > std::numeric_limits<std::uint32_t>::max()) {
        return kTlvEncodeError;
    }

    // SM2: the largest any signature can give (r and s with the high bit set),
    // so the size can never fall short after the button. RSA: a signature is
    // exactly the modulus long.
    std::optional<std::size_t> signedDataSize;
    if (chosen.hashId == kHashIdSm3) {
        signedDataSize = pkcs7SignedDataSm2SizeBound(packet, chosen.signer.certificate);
    } else {
        const Bytes modulusLong(static_cast<std::size_t>(std::max(chosen.signer.keyBits, 0) / 8),
                                0);
        const std::optional<DerChain> signedData =
            buildSignedData(chosen.hashId, packet, chosen.signer.certificate, modulusLong);
        if (signedData) {
            signedDataSize = signedData->size();
        }
    }
    if (!signedDataSize) {
        return kCreateP7Failed;
    }
    sized.signedDataSize = *signedDataSize;

    // The base64 text, with its NUL, must fit the caller's int.
    sized.base64Length = base64EncodedLength(sized.signedDataSize);
    if (sized.base64Length >= static_cast<std::size_t>(kIntMax)) {
        return kOperationFailed;
    }
    return sized;
}

// All a signature needs before the key is asked for it, made anew for each
// one: the key's prepare step is part of it.
struct PreparedSignature {
    ChosenSigner chosen;
    SizedPacket sized;
    // The key's buffer, given to both of its steps.
    KeySignature signature;
};

// The signer chosen, the transaction prepared on the key, the packet built and
// sized; a size query ends here.
Result<PreparedSignature> prepareSignature(const DeviceSession& session,
                                           const Transaction& transaction,
                                           SignerSelector selector) {
    Result<ChosenSigner> chosen = chooseSigner(session, transaction, selector);
    if (!chosen) {
        return chosen.code();
    }
    KeySignature signature;
    if (const ApiErrorCode code = prepareTransaction(session, *chosen, transaction, signature);
        code != kSuccess) {
        return code;
    }
    Result<SizedPacket> sized = buildAndSize(*chosen, transaction);
    if (!sized) {
        return sized.code();
    }
    return PreparedSignature{std::move(*chosen), std::move(*sized), signature};
}

// The key shows the packet and waits for its button; the SignedData around its
// signature, borrowing the prepared packet.
Result<DerChain> signPacket(const DeviceSession& session, const Transaction& transaction,
                            PreparedSignature& prepared) {
    const ChosenSigner& chosen = prepared.chosen;
    const SizedPacket& sized = prepared.sized;
    KeySignature& signature = prepared.signature;
    signature.length = kSignatureRoom;
    ApiErrorCode confirmed = kSuccess;
    {
        // The caller's window stays disabled meanwhile.
        const ForegroundWindowDisabled disabled;
        confirmed = keySign(session, chosen.signer, chosen.hashId, transaction, DRV_SIGN_CONFIRM,
                            sized.packet, signature)
                        .mapped(kSignFailed);
    }
    if (confirmed != kSuccess) {
        return confirmed;
    }
    // A signature of another length than the key's cannot be what was sized.
    const std::size_t expectedLength =
        chosen.sm2 ? kSm2SignatureSize
                   : static_cast<std::size_t>(std::max(chosen.signer.keyBits, 0) / 8);
    if (signature.length != expectedLength) {
        return kCreateP7Failed;
    }

    // The SignedData goes out as base64 piece by piece, around the packet it
    // borrows: a large attachment's DER is never held beside it.
    std::optional<DerChain> signedData =
        buildSignedData(chosen.hashId, sized.packet, chosen.signer.certificate,
                        std::span(signature.bytes.data(), signature.length));
    if (!signedData) {
        return kCreateP7Failed;
    }
    return std::move(*signedData);
}

// The room the SignedData's base64 text takes with its NUL.
std::size_t signedTextRoom(const DerChain& signedData) {
    return base64EncodedLength(signedData.size()) + 1;
}

// The SignedData's base64 text into the room characters at out, without a
// terminator: its length. kBufferTooSmall when room is below signedTextRoom.
Result<std::size_t> writeSignedText(const DerChain& signedData, char* out, std::size_t room) {
    const std::size_t textLength = base64EncodedLength(signedData.size());
    if (textLength >= room) {
        return kBufferTooSmall;
    }
    const std::optional<std::size_t> written = signedData.writeBase64To(std::span(out, textLength));
    if (!written) {
        return kCreateP7Failed;
    }
    return *written;
}

// The checks before the key is opened, in their order.
ApiErrorCode checkArguments(const UsbKeySignArguments& arguments, bool bufferMode) {
    // The transaction, the display text and, in buffer mode, the length.
    if (arguments.xmlMsg == nullptr || arguments.xmlMsgLength <= 0 || arguments.keyMsg == nullptr) {
        return kInvalidParameter;
    }
    if (bufferMode && arguments.length == nullptr) {
        return kInvalidParameter;
    }

    // The mode's own arguments.
    if (!bufferMode) {
        if (isEmpty(arguments.signFilePath)) {
            return kInvalidParameter;
        }
    } else if (isEmpty(arguments.signerDn)) {
        return kInvalidParameter;
    }
    return kSuccess;
}

// Buffer mode: a size query (the base64 length and its NUL), or the signature
// into the caller's buffer, encoded there directly.
ApiErrorCode signIntoBuffer(const DeviceSession& session, const Transaction& transaction,
                            SignerSelector selector, const UsbKeySignArguments& arguments) {
    Result<PreparedSignature> prepared = prepareSignature(session, transaction, selector);
    if (!prepared) {
        return prepared.code();
    }
    const int needed = static_cast<int>(prepared->sized.base64Length) + 1;
    if (arguments.buffer == nullptr) {
        *arguments.length = needed;
        return kSuccess;
    }
    // The key is not asked to sign into a buffer that is too short.
    if (*arguments.length < needed) {
        *arguments.length = needed;
        return kBufferTooSmall;
    }
    Result<DerChain> signedData = signPacket(session, transaction, *prepared);
    if (!signedData) {
        return signedData.code();
    }
    const Result<std::size_t> written =
        writeSignedText(*signedData, arguments.buffer, static_cast<std::size_t>(*arguments.length));
    if (written.code() == kBufferTooSmall) {
        *arguments.length = static_cast<int>(signedTextRoom(*signedData));
    }
    if (!written) {
        return written.code();
    }
    arguments.buffer[*written] = '\0';
    *arguments.length = static_cast<int>(*written);
    return kSuccess;
}

// Output-file and file mode: size, then sign once into room of that size.
Result<std::string> signIntoText(const DeviceSession& session, const Transaction& transaction,
                                 SignerSelector selector) {
    Result<PreparedSignature> sizing = prepareSignature(session, transaction, selector);
    if (!sizing) {
        return sizing.code();
    }
    std::string text(sizing->sized.base64Length + 1, '\0');
    Result<PreparedSignature> prepared = prepareSignature(session, transaction, selector);
    if (!prepared) {
        return prepared.code();
    }
    // The key is not asked to sign into room that is too short.
    if (text.size() < prepared->sized.base64Length + 1) {
        return kBufferTooSmall;
    }
    Result<DerChain> signedData = signPacket(session, transaction, *prepared);
    if (!signedData) {
        return signedData.code();
    }
    const Result<std::size_t> written = writeSignedText(*signedData, text.data(), text.size());
    if (!written) {
        return written.code();
    }
    text.resize(*written);
    return text;
}

}  // namespace

ApiErrorCode runUsbKeySign(const UsbKeySignArguments& arguments, const FileModeTail* fileModeTail,
                           AttachedFile* checkedFile) {
    const bool fileMode = fileModeTail != nullptr;
    const bool outputFileMode = !fileMode && !isEmpty(arguments.p7FilePath);
    const bool bufferMode = !fileMode && !outputFileMode;

    if (const ApiErrorCode code = checkArguments(arguments, bufferMode); code != kSuccess) {
        return code;
    }
    // The output file, last of the checks, is reserved but never emptied.
    OutputFile outputFile;
    if (outputFileMode) {
        if (const ApiErrorCode code = outputFile.reserve(arguments.p7FilePath); code != kSuccess) {
            return code;
        }
    }

    // The hash name; none lets the key's size choose.
    Transaction transaction;
    if (!isEmpty(arguments.hashName)) {
        const std::optional<int> hashId = hashNameToId(arguments.hashName);
        if (!hashId) {
            return kInvalidHashType;
        }
        transaction.hashId = *hashId;
    }

    // The key; from here on every path clears its PIN cache and closes it.
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    const PinCacheClearer pinCacheClearer(session);

    transaction.signerDn = textOrEmpty(arguments.signerDn);
    transaction.xml = {reinterpret_cast<const std::uint8_t*>(arguments.xmlMsg),
                       static_cast<std::size_t>(arguments.xmlMsgLength)};
    // One file for both steps of the call (sizing and signing).
    AttachedFile namedFile(textOrEmpty(arguments.signFilePath));
    transaction.attachedFile = checkedFile != nullptr ? checkedFile : &namedFile;
    transaction.display = arguments.keyMsg;
    const SignerSelector selector =
        bufferMode ? SignerSelector::matchingKey : SignerSelector::singleBinaryForm;

    if (bufferMode) {
        return signIntoBuffer(session, transaction, selector, arguments);
    }
    const Result<std::string> text = signIntoText(session, transaction, selector);
    if (!text) {
        return text.code();
    }
    if (outputFileMode) {
        return outputFile.write(*text);
    }
    return (*fileModeTail)(*text);
}

}  // namespace orva::api
