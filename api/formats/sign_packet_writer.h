#pragma once

// The to-be-signed packet: what the key receives with a transaction signature.
// It carries the transaction text, the text shown on the key and, optionally,
// an attached file (path plus base64 content), in one of two TLV forms:
//   binary: tag (1) | 00 00 00 00 | length (4, big-endian) | value
//           0x11 outer header, then 0x21 transaction, 0x23 file, 0x22 display
//   text:   tag (2 digits) | length (10 decimal digits) | value
//           "11" outer header, then "21" transaction, "22" display, "23" file
// The outer header's length is that of the three inner elements with their
// headers; without a file the file element is a header with length 0.
// Attached-file field: "00000000", B + 16, B + 8 and P as "%08d", the path (P
// bytes, as given), the file's base64 (E bytes); B = P + E.
//
// Every writer is handed its output span and never writes past it: a span too
// short is kTlvEncodeError with nothing written. Texts are copied as bytes, unconverted.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "attached_file.h"
#include "byte_buffer.h"
#include "orva_result_codes.h"
#include "result.h"

namespace orva::api {

inline constexpr std::size_t kBinaryTlvHeaderSize = 9;
inline constexpr std::size_t kTextTlvHeaderSize = 12;
// The four eight-digit counts in front of an attached file's path.
inline constexpr std::size_t kAttachedFileCountsSize = 32;
// B + 16 must fit eight decimal digits.
inline constexpr std::uint64_t kAttachedFileCountLimit = 99999999;
// What the estimate adds for headers and counts.
inline constexpr std::size_t kSignPacketEstimateSpare = 512;

inline constexpr std::uint8_t kBinaryTagPacket = 0x11;
inline constexpr std::uint8_t kBinaryTagTransaction = 0x21;
inline constexpr std::uint8_t kBinaryTagDisplay = 0x22;
inline constexpr std::uint8_t kBinaryTagFile = 0x23;
inline constexpr std::string_view kTextTagPacket = "11";
inline constexpr std::string_view kTextTagTransaction = "21";
inline constexpr std::string_view kTextTagDisplay = "22";
inline constexpr std::string_view kTextTagFile = "23";

// The field length 32 + B for a path of pathLength bytes and a file of fileSize
// bytes, before the file is read; kFileTooLong when B + 16 exceeds 99999999.
Result<std::size_t> attachedFileFieldLength(std::size_t pathLength,
                                            std::uint64_t fileSize) noexcept;

// Writes the attached-file field for a path and the base64 text of the file
// (no terminator) and gives its length, 32 + B. kFileTooLong when B + 16
// exceeds 99999999, kTlvEncodeError when out is too short.
Result<std::size_t> formatAttachedFileField(std::string_view path, std::string_view base64Text,
                                            std::span<std::uint8_t> out) noexcept;

// The attached-file field of the regular file at path; an empty path gives an
// empty field. kBase64EncodeError when the file cannot be opened or read, kFileTooLong when it is
// too large for the counts (checked before it is read), kMallocFailed out of memory,
// kTlvEncodeError when the field cannot be formatted.
Result<Bytes> buildAttachedFileField(std::string_view path);
// The same for a file opened once for the whole signature.
Result<Bytes> buildAttachedFileField(AttachedFile& file);

// A binary TLV header with the given length and no value (the outer header);
// gives its size. kTlvEncodeError for a length beyond 32 bits.
Result<std::size_t> putBinaryTlvHeader(std::uint8_t tag, std::uint64_t length,
                                       std::span<std::uint8_t> out) noexcept;

// A binary TLV: header and value; gives 9 + the value's size.
Result<std::size_t> putBinaryTlv(std::uint8_t tag, std::span<const std::uint8_t> value,
                                 std::span<std::uint8_t> out) noexcept;

// A text TLV header with the given length and no value; gives its size.
// kInvalidParameter for a tag that is not two characters, kTlvEncodeError for a
// length beyond ten digits.
Result<std::size_t> putTextTlvHeader(std::string_view tag, std::uint64_t length,
                                     std::span<std::uint8_t> out) noexcept;

// A text TLV: header and value, no terminator; gives 12 + the value's size.
Result<std::size_t> putTextTlv(std::string_view tag, std::span<const std::uint8_t> value,
                               std::span<std::uint8_t> out) noexcept;

// The packet in binary form (container type 3) into out; gives its length. An
// empty filePath attaches nothing. Codes: those of buildAttachedFileField,
// kTlvEncodeError when out is too short or the lengths overflow their fields.
// Throws std::bad_alloc.
Result<std::size_t> buildSignPacketBinary(std::string_view transaction, std::string_view display,
                                          std::string_view filePath, std::span<std::uint8_t> out);

// The packet in text form (container type 2), as above.
Result<std::size_t> buildSignPacketText(std::string_view transaction, std::string_view display,
                                        std::string_view filePath, std::span<std::uint8_t> out);

// Both forms with a file opened once for the whole signature.
Result<std::size_t> buildSignPacketBinary(std::string_view transaction, std::string_view display,
                                          AttachedFile& file, std::span<std::uint8_t> out);
Result<std::size_t> buildSignPacketText(std::string_view transaction, std::string_view display,
                                        AttachedFile& file, std::span<std::uint8_t> out);

// A size that every packet of these texts and file fits, in either form, as
// long as the file does not grow. kOpenFileError when the file to attach cannot
// be opened; kFileTooLong when the file is too large for the field;
// kTlvEncodeError when the sum overflows. Throws std::bad_alloc.
Result<std::size_t> estimateSignPacketSize(std::size_t transactionLength, std::size_t displayLength,
                                           std::string_view filePath);
// The same for a file opened once for the whole signature.
Result<std::size_t> estimateSignPacketSize(std::size_t transactionLength, std::size_t displayLength,
                                           AttachedFile& file);

}  // namespace orva::api
