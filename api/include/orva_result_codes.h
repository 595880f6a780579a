#pragma once

// The result codes of the token API library and of every front end, with the
// texts they show. One table for the whole product: no code is written as a
// literal anywhere else.

#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <span>

namespace orva {

// A result code: 0 is success, every failure is negative. A type of its own,
// so that a maker's status, a count or a flag cannot pass for one, and a result
// cannot be dropped. Its number is read only where it crosses a C boundary.
class [[nodiscard]] ApiErrorCode {
  public:
    constexpr explicit ApiErrorCode(std::int32_t number) noexcept : number_(number) {}

    constexpr std::int32_t number() const noexcept { return number_; }

    // Codes order as their numbers, so a range such as -206 to -201 reads as one.
    constexpr bool operator==(const ApiErrorCode&) const noexcept = default;
    constexpr auto operator<=>(const ApiErrorCode&) const noexcept = default;

    // A number read back from a C boundary compares with its code.
    template <std::same_as<std::int32_t> Number>
    friend constexpr bool operator==(ApiErrorCode code, Number number) noexcept {
        return code.number_ == number;
    }

    // Written as its number.
    friend std::ostream& operator<<(std::ostream& out, ApiErrorCode code);

  private:
    std::int32_t number_;
};

inline constexpr ApiErrorCode kSuccess{0};
inline constexpr ApiErrorCode kUserCancel{-100};
inline constexpr ApiErrorCode kDriverNotInstalled{-101};
inline constexpr ApiErrorCode kNoDevice{-102};
inline constexpr ApiErrorCode kOpenDeviceError{-103};
inline constexpr ApiErrorCode kTooManyDevices{-104};
inline constexpr ApiErrorCode kOperationTimeout{-105};
inline constexpr ApiErrorCode kInvalidParameter{-106};
// Never a result itself: -(200 + n), n tries left after a failed PIN change
// (1 <= n <= 6), shows its text.
inline constexpr ApiErrorCode kVerifyPinRetry{-200};
inline constexpr ApiErrorCode kPinLocked{-221};
inline constexpr ApiErrorCode kPinLengthError{-222};
inline constexpr ApiErrorCode kOperationFailed{-300};
inline constexpr ApiErrorCode kDeviceStructError{-301};
inline constexpr ApiErrorCode kGetCertInfoError{-302};
inline constexpr ApiErrorCode kBufferTooSmall{-303};
// Nothing to work on (no target container, no key); it has no text of its own.
inline constexpr ApiErrorCode kNothingFound{-304};
inline constexpr ApiErrorCode kGetContainerInfoError{-305};
inline constexpr ApiErrorCode kDerEncodeError{-306};
inline constexpr ApiErrorCode kMallocFailed{-307};
inline constexpr ApiErrorCode kReadPublicKeyError{-308};
inline constexpr ApiErrorCode kGetAdminKeyInfoError{-309};
inline constexpr ApiErrorCode kButtonBreakdown{-310};
inline constexpr ApiErrorCode kVerifyPinError{-311};
inline constexpr ApiErrorCode kDeletePublicKeyError{-312};
inline constexpr ApiErrorCode kGetLanguageListError{-313};
inline constexpr ApiErrorCode kHashTypeError{-314};
inline constexpr ApiErrorCode kAsymIdTypeError{-315};
inline constexpr ApiErrorCode kCertUsageError{-316};
inline constexpr ApiErrorCode kUpdateAdminKeyError{-317};
inline constexpr ApiErrorCode kSecureInitError{-318};
inline constexpr ApiErrorCode kNoMatchPublicKey{-319};
inline constexpr ApiErrorCode kNoCertificate{-320};
inline constexpr ApiErrorCode kInvalidHashType{-321};
inline constexpr ApiErrorCode kNewContainerError{-322};
inline constexpr ApiErrorCode kGetAsymKeyError{-323};
inline constexpr ApiErrorCode kAddAsymKeyToContainerError{-324};
inline constexpr ApiErrorCode kConvertPublicKeyError{-325};
inline constexpr ApiErrorCode kDefaultPin{-326};
inline constexpr ApiErrorCode kKeyShowNull{-327};
inline constexpr ApiErrorCode kXmlBadData{-328};
inline constexpr ApiErrorCode kOpenFileError{-329};
inline constexpr ApiErrorCode kWriteFileError{-330};
inline constexpr ApiErrorCode kNoFile{-331};
inline constexpr ApiErrorCode kCreateP7Failed{-332};
inline constexpr ApiErrorCode kKeyShowTooLong{-333};
inline constexpr ApiErrorCode kNotTradeData{-334};
inline constexpr ApiErrorCode kFileTooLong{-335};
inline constexpr ApiErrorCode kTlvEncodeError{-336};
inline constexpr ApiErrorCode kTlvDecodeError{-337};
inline constexpr ApiErrorCode kConvertStringError{-338};
inline constexpr ApiErrorCode kPrintError{-339};
inline constexpr ApiErrorCode kNoFileLocked{-340};
inline constexpr ApiErrorCode kTokenInfoError{-341};
inline constexpr ApiErrorCode kNoMoreContainers{-400};
inline constexpr ApiErrorCode kBase64DecodeError{-401};
inline constexpr ApiErrorCode kBase64EncodeError{-402};
inline constexpr ApiErrorCode kGenerateAsymKeyError{-403};
inline constexpr ApiErrorCode kMakeRequestError{-404};
inline constexpr ApiErrorCode kNoMatchCertificate{-405};
inline constexpr ApiErrorCode kCertDataError{-406};
inline constexpr ApiErrorCode kAnalyzeCertError{-407};
inline constexpr ApiErrorCode kWriteCertError{-408};
inline constexpr ApiErrorCode kSignFailed{-409};
inline constexpr ApiErrorCode kVerifyFailed{-410};
inline constexpr ApiErrorCode kFunctionUnsupported{-411};
inline constexpr ApiErrorCode kDerDecodeError{-412};
inline constexpr ApiErrorCode kTooManyCertificates{-413};

// The text shown for a code that has no row of its own.
inline constexpr const char* kOtherErrorText = "Other Error";

struct ResultCodeText {
    ApiErrorCode code;
    const char* text;
};

// Every code that has a text, from 0 down to -413.
std::span<const ResultCodeText> resultCodeTexts() noexcept;

// The text a code shows: its row's; -201 to -206 show -200's; any other code
// "Other Error".
const char* resultCodeText(ApiErrorCode code) noexcept;

}  // namespace orva
