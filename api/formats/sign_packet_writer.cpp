#include "sign_packet_writer.h"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "base64_codec.h"
#include "orva_result_codes.h"
#include "regular_file.h"

namespace orva::api {

namespace {

constexpr std::size_t kCountDigits = 8;
constexpr std::size_t kTextLengthDigits = 10;
constexpr std::uint64_t kTextLengthLimit = 9999999999;
constexpr std::uint64_t kBinaryLengthLimit = 0xFFFFFFFF;
// B + 16 and B + 8: the bytes that follow each of the first two counts.
constexpr std::size_t kBytesAfterFirstCount = 16;
constexpr std::size_t kBytesAfterSecondCount = 8;

std::span<const std::uint8_t> bytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// value as exactly `digits` decimal digits with leading zeros; the caller has
// checked that it fits.
void putDecimal(std::uint64_t value, std::size_t digits, std::uint8_t* out) noexcept {
    for (std::size_t i = digits; i-- > 0;) {
        out[i] = static_cast<std::uint8_t>('0' + value % 10);
        value /= 10;
    }
}

// B = P + E, or none beyond the counts' limit.
[[nodiscard]] std::optional<std::size_t> pathAndContentLength(std::size_t pathLength,
                                                              std::uint64_t base64Length) noexcept {
    if (base64Length > kAttachedFileCountLimit || pathLength > kAttachedFileCountLimit) {
        return std::nullopt;
    }
    const std::uint64_t b = pathLength + base64Length;
    if (b + kBytesAfterFirstCount > kAttachedFileCountLimit) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(b);
}

// The base64 length of n bytes; n is at most the counts' limit, so it cannot
// wrap.
std::uint64_t base64Length(std::uint64_t n) noexcept {
    return (n / 3 + (n % 3 != 0 ? 1 : 0)) * 4;
}

// Writes the elements of a packet one behind the other; the first failure
// stops the rest.
class ElementWriter {
  public:
    explicit ElementWriter(std::span<std::uint8_t> out) noexcept : out_(out) {}

    template <class Put, class Tag, class Value>
    void put(Put writeElement, Tag tag, Value value) noexcept {
        if (code_ != kSuccess) {
            return;
        }
        const Result<std::size_t> written = writeElement(tag, value, out_.subspan(at_));
        if (!written) {
            code_ = written.code();
            return;
        }
        at_ += *written;
    }

    // A value after its header: copied, or only passed over when it was
    // written in place already.
    void putValue(std::span<const std::uint8_t> value) noexcept {
        if (code_ != kSuccess) {
            return;
        }
        if (out_.size() - at_ < value.size()) {
            code_ = kTlvEncodeError;
            return;
        }
        if (value.data() != out_.data() + at_) {
            std::copy(value.begin(), value.end(), out_.begin() + static_cast<std::ptrdiff_t>(at_));
        }
        at_ += value.size();
    }

    ApiErrorCode code() const noexcept { return code_; }
    std::size_t size() const noexcept { return at_; }

  private:
    std::span<std::uint8_t> out_;
    std::size_t at_ = 0;
    ApiErrorCode code_ = kSuccess;
};

// The outer length L over the three inner elements, and the whole packet
// L + one header.
struct PacketLengths {
    std::size_t outer = 0;
    std::size_t total = 0;
};

// The lengths of both builders, and their capacity check.
Result<PacketLengths> packetLengths(std::size_t header, std::size_t transaction,
                                    std::size_t display, std::size_t file, std::size_t capacity) {
    const std::optional<std::size_t> outer = checkedSum({transaction, display, file, 3 * header});
    if (!outer) {
        return kTlvEncodeError;
    }
    const std::optional<std::size_t> total = checkedSum({*outer, header});
    if (!total || capacity < *total) {
        return kTlvEncodeError;
    }
    return PacketLengths{*outer, *total};
}

}  // namespace

Result<std::size_t> attachedFileFieldLength(std::size_t pathLength,
                                            std::uint64_t fileSize) noexcept {
    if (fileSize > kAttachedFileCountLimit) {
        return kFileTooLong;
    }
    const auto b = pathAndContentLength(pathLength, base64Length(fileSize));
    if (!b) {
        return kFileTooLong;
    }
    return kAttachedFileCountsSize + *b;
}

namespace {

// The attached file is read this much at a time.
constexpr std::uint64_t kReadSlice = 1 << 20;

// The counts and the path of a field whose content is contentLength base64
// characters; the caller has checked that B fits and out holds the field.
std::uint8_t* putAttachedFileHead(std::string_view path, std::size_t b, std::uint8_t* at) noexcept {
    putDecimal(0, kCountDigits, at);
    putDecimal(b + kBytesAfterFirstCount, kCountDigits, at + kCountDigits);
    putDecimal(b + kBytesAfterSecondCount, kCountDigits, at + 2 * kCountDigits);
    putDecimal(path.size(), kCountDigits, at + 3 * kCountDigits);
    return std::copy(path.begin(), path.end(), at + kAttachedFileCountsSize);
}

}  // namespace

Result<std::size_t> formatAttachedFileField(std::string_view path, std::string_view base64Text,
                                            std::span<std::uint8_t> out) noexcept {
    const auto b = pathAndContentLength(path.size(), base64Text.size());
    if (!b) {
        return kFileTooLong;
    }
    const std::size_t fieldLength = kAttachedFileCountsSize + *b;
    if (out.size() < fieldLength) {
        return kTlvEncodeError;
    }
    std::uint8_t* at = putAttachedFileHead(path, *b, out.data());
    std::copy(base64Text.begin(), base64Text.end(), at);
    return fieldLength;
}

Result<Bytes> buildAttachedFileField(std::string_view path) {
    AttachedFile file(path);
    return buildAttachedFileField(file);
}

namespace {

// The field of an opened file into out, which holds the field of its size
// when opened: the counts, the path, and the content read in slices and
// encoded straight after them, so that neither the file's bytes nor its text
// are held whole. Never more than that size is read; a file that shrank since
// gives the field of what was read. Gives the field's length. Throws
// std::bad_alloc.
Result<std::size_t> writeAttachedFileField(const RegularFile& file, std::string_view path,
                                           std::span<std::uint8_t> out) {
    const std::size_t head = kAttachedFileCountsSize + path.size();
    if (out.size() < head) {
        return kTlvEncodeError;
    }
    Base64Writer writer(std::span(reinterpret_cast<char*>(out.data()) + head, out.size() - head));
    Bytes slice(static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), kReadSlice)));
    for (std::uint64_t offset = 0; offset < file.size();) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(slice.size(), file.size() - offset));
        const auto got = file.readAt(offset, std::span(slice).first(want));
        if (!got) {
            return kBase64EncodeError;
        }
        writer.write(std::span(slice).first(*got));
        offset += *got;
        if (*got < want) {
            break;
        }
    }
    const std::optional<std::size_t> encoded = writer.finish();
    if (!encoded) {
        return kTlvEncodeError;
    }
    const auto b = pathAndContentLength(path.size(), *encoded);
    if (!b) {
        return kFileTooLong;
    }
    putAttachedFileHead(path, *b, out.data());
    return head + *encoded;
}

// The attached-file field of a packet builder: in place in the packet's out,
// or a buffer of its own.
struct PlacedField {
    Bytes own;
    std::optional<std::span<const std::uint8_t>> inPlace;

    std::span<const std::uint8_t> bytes() const noexcept { return inPlace ? *inPlace : own; }
};

// When the whole packet with the field of the file's size fits out, the field
// is written in place at fieldOffset, so that the file's text is never held
// beside the packet; otherwise it is built on its own, with
// buildAttachedFileField's codes.
Result<PlacedField> placeAttachedFileField(AttachedFile& attached, std::size_t header,
                                           std::size_t transaction, std::size_t display,
                                           std::size_t fieldOffset, std::span<std::uint8_t> out) {
    const RegularFile* file = attached.path().empty() ? nullptr : attached.file();
    if (file != nullptr) {
        const Result<std::size_t> fieldLength =
            attachedFileFieldLength(attached.path().size(), file->size());
        if (fieldLength && packetLengths(header, transaction, display, *fieldLength, out.size())) {
            try {
                const Result<std::size_t> length = writeAttachedFileField(
                    *file, attached.path(), out.subspan(fieldOffset, *fieldLength));
                if (!length) {
                    return length.code();
                }
                return PlacedField{{}, out.subspan(fieldOffset, *length)};
            } catch (const std::bad_alloc&) {
                return kMallocFailed;
            }
        }
    }
    Result<Bytes> own = buildAttachedFileField(attached);
    if (!own) {
        return own.code();
    }
    return PlacedField{std::move(*own), std::nullopt};
}

}  // namespace

Result<Bytes> buildAttachedFileField(AttachedFile& attached) {
    // No file to attach.
    const std::string_view path = attached.path();
    if (path.empty()) {
        return Bytes();
    }
    // Check the counts' limit from its size before anything is read, so that a
    // file far too large is never loaded.
    const RegularFile* file = attached.file();
    if (file == nullptr) {
        return kBase64EncodeError;
    }
    const Result<std::size_t> fieldLength = attachedFileFieldLength(path.size(), file->size());
    if (!fieldLength) {
        return fieldLength.code();
    }
    try {
        Bytes formatted(*fieldLength);
        const Result<std::size_t> length = writeAttachedFileField(*file, path, formatted);
        if (!length) {
            return length.code();
        }
        formatted.resize(*length);
        return formatted;
    } catch (const std::bad_alloc&) {
        return kMallocFailed;
    } catch (const std::length_error&) {
        return kMallocFailed;
    }
}

Result<std::size_t> putBinaryTlvHeader(std::uint8_t tag, std::uint64_t length,
                                       std::span<std::uint8_t> out) noexcept {
    if (length > kBinaryLengthLimit || out.size() < kBinaryTlvHeaderSize) {
        return kTlvEncodeError;
    }
    out[0] = tag;
    out[1] = out[2] = out[3] = out[4] = 0;
    out[5] = static_cast<std::uint8_t>(length >> 24);
    out[6] = static_cast<std::uint8_t>(length >> 16);
    out[7] = static_cast<std::uint8_t>(length >> 8);
    out[8] = static_cast<std::uint8_t>(length);
    return kBinaryTlvHeaderSize;
}

Result<std::size_t> putBinaryTlv(std::uint8_t tag, std::span<const std::uint8_t> value,
                                 std::span<std::uint8_t> out) noexcept {
    if (out.size() < kBinaryTlvHeaderSize || out.size() - kBinaryTlvHeaderSize < value.size()) {
        return kTlvEncodeError;
    }
    const Result<std::size_t> header = putBinaryTlvHeader(tag, value.size(), out);
    if (!header) {
        return header.code();
    }
    std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(*header));
    return *header + value.size();
}

Result<std::size_t> putTextTlvHeader(std::string_view tag, std::uint64_t length,
                                     std::span<std::uint8_t> out) noexcept {
    if (tag.size() != 2) {
        return kInvalidParameter;
    }
    if (length > kTextLengthLimit || out.size() < kTextTlvHeaderSize) {
        return kTlvEncodeError;
    }
    out[0] = static_cast<std::uint8_t>(tag[0]);
    out[1] = static_cast<std::uint8_t>(tag[1]);
    // Exactly ten digits: no terminator lands on the value or past the packet.
    putDecimal(length, kTextLengthDigits, out.data() + 2);
    return kTextTlvHeaderSize;
}

Result<std::size_t> putTextTlv(std::string_view tag, std::span<const std::uint8_t> value,
                               std::span<std::uint8_t> out) noexcept {
    if (tag.size() != 2) {
        return kInvalidParameter;
    }
    if (out.size() < kTextTlvHeaderSize || out.size() - kTextTlvHeaderSize < value.size()) {
        return kTlvEncodeError;
    }
    const Result<std::size_t> header = putTextTlvHeader(tag, value.size(), out);
    if (!header) {
        return header.code();
    }
    std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(*header));
    return *header + value.size();
}

Result<std::size_t> buildSignPacketBinary(std::string_view transaction, std::string_view display,
                                          std::string_view filePath, std::span<std::uint8_t> out) {
    AttachedFile file(filePath);
    return buildSignPacketBinary(transaction, display, file, out);
}

Result<std::size_t> buildSignPacketText(std::string_view transaction, std::string_view display,
                                        std::string_view filePath, std::span<std::uint8_t> out) {
    AttachedFile file(filePath);
    return buildSignPacketText(transaction, display, file, out);
}

Result<std::size_t> buildSignPacketBinary(std::string_view transaction, std::string_view display,
                                          AttachedFile& file, std::span<std::uint8_t> out) {
    // The attached-file field, in place after the outer header, the
    // transaction and its own header.
    const Result<PlacedField> placed =
        placeAttachedFileField(file, kBinaryTlvHeaderSize, transaction.size(), display.size(),
                               3 * kBinaryTlvHeaderSize + transaction.size(), out);
    if (!placed) {
        return placed.code();
    }
    const std::span<const std::uint8_t> field = placed->bytes();
    // L = X + D + F + 27; the packet is L + 9 and must fit out.
    const Result<PacketLengths> lengths = packetLengths(kBinaryTlvHeaderSize, transaction.size(),
                                                        display.size(), field.size(), out.size());
    if (!lengths) {
        return lengths.code();
    }
    // Outer header, then transaction, file, display.
    ElementWriter writer(out);
    writer.put(putBinaryTlvHeader, kBinaryTagPacket, std::uint64_t{lengths->outer});
    writer.put(putBinaryTlv, kBinaryTagTransaction, bytesOf(transaction));
    writer.put(putBinaryTlvHeader, kBinaryTagFile, std::uint64_t{field.size()});
    writer.putValue(field);
    writer.put(putBinaryTlv, kBinaryTagDisplay, bytesOf(display));
    // The elements must add up to the whole packet.
    if (writer.code() != kSuccess) {
        return writer.code();
    }
    if (writer.size() != lengths->total) {
        return kTlvEncodeError;
    }
    return lengths->total;
}

Result<std::size_t> buildSignPacketText(std::string_view transaction, std::string_view display,
                                        AttachedFile& file, std::span<std::uint8_t> out) {
    // The attached-file field, in place after the outer header, the
    // transaction, the display and its own header.
    const Result<PlacedField> placed =
        placeAttachedFileField(file, kTextTlvHeaderSize, transaction.size(), display.size(),
                               4 * kTextTlvHeaderSize + transaction.size() + display.size(), out);
    if (!placed) {
        return placed.code();
    }
    const std::span<const std::uint8_t> field = placed->bytes();
    // L = X + D + F + 36; the packet is L + 12 and must fit out.
    const Result<PacketLengths> lengths = packetLengths(kTextTlvHeaderSize, transaction.size(),
                                                        display.size(), field.size(), out.size());
    if (!lengths) {
        return lengths.code();
    }
    // Outer header, then transaction, display, file: not the binary form's
    // order.
    ElementWriter writer(out);
    writer.put(putTextTlvHeader, kTextTagPacket, std::uint64_t{lengths->outer});
    writer.put(putTextTlv, kTextTagTransaction, bytesOf(transaction));
    writer.put(putTextTlv, kTextTagDisplay, bytesOf(display));
    writer.put(putTextTlvHeader, kTextTagFile, std::uint64_t{field.size()});
    writer.putValue(field);
    // The elements must add up to the whole packet.
    if (writer.code() != kSuccess) {
        return writer.code();
    }
    if (writer.size() != lengths->total) {
        return kTlvEncodeError;
    }
    return lengths->total;
}

Result<std::size_t> estimateSignPacketSize(std::size_t transactionLength, std::size_t displayLength,
                                           std::string_view filePath) {
    AttachedFile file(filePath);
    return estimateSignPacketSize(transactionLength, displayLength, file);
}

Result<std::size_t> estimateSignPacketSize(std::size_t transactionLength, std::size_t displayLength,
                                           AttachedFile& attached) {
    // The two texts.
    std::optional<std::size_t> estimate = checkedSum({transactionLength, displayLength});
    if (!estimate) {
        return kTlvEncodeError;
    }
    // The path and the base64 of the file, which must fit the field.
    const std::string_view filePath = attached.path();
    if (!filePath.empty()) {
        const RegularFile* file = attached.file();
        if (file == nullptr) {
            return kOpenFileError;
        }
        if (const Result<std::size_t> fieldLength =
                attachedFileFieldLength(filePath.size(), file->size());
            !fieldLength) {
            return fieldLength.code();
        }
        // (N + 2) / 3 * 4 + 1 for a non-empty file; the limit above keeps it small.
        const std::size_t content =
            file->size() > 0 ? static_cast<std::size_t>(base64Length(file->size())) + 1 : 0;
        estimate = checkedSum({*estimate, filePath.size(), content});
        if (!estimate) {
            return kTlvEncodeError;
        }
    }
    // Room for the headers and the counts.
    estimate = checkedSum({*estimate, kSignPacketEstimateSpare});
    if (!estimate) {
        return kTlvEncodeError;
    }
    return *estimate;
}

}  // namespace orva::api
