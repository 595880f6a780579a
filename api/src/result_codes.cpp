#include "orva_result_codes.h"

#include <array>
#include <ostream>

namespace orva {

namespace {

constexpr std::array<ResultCodeText, 66> kTexts{{
    {kSuccess, "SUCCESS"},
    {kUserCancel, "USER CANCEL"},
    {kDriverNotInstalled, "DRIVER NOT INSTALL"},
    {kNoDevice, "NO DEVICE"},
    {kOpenDeviceError, "OPEN DEV ERR"},
    {kTooManyDevices, "TOO MANY DEVICE"},
    {kOperationTimeout, "OPERATION TIMEOUT"},
    {kInvalidParameter, "INVALID PARAMETER"},
    {kVerifyPinRetry, "VERIFY PIN RETRY"},
    {kPinLocked, "PIN LOCKED"},
    {kPinLengthError, "ERR PIN LEN"},
    {kOperationFailed, "OPERATION FAILED"},
    {kDeviceStructError, "ERR DEVICE STRUCT"},
    {kGetCertInfoError, "ERR GET CERTINFO"},
    {kBufferTooSmall, "ERR BUFFER TOO SMALL"},
    // kNothingFound has no row.
    {kGetContainerInfoError, "ERR GET CTNINFO"},
    {kDerEncodeError, "ERR DER ENCODE"},
    {kMallocFailed, "MALLOC FAILED"},
    {kReadPublicKeyError, "ERR READ PUBKEY"},
    {kGetAdminKeyInfoError, "ERR GET ADMINKEYINFO"},
    {kButtonBreakdown, "ERR BUTTON BREAKDOWN"},
    {kVerifyPinError, "ERR VERIFY PIN"},
    {kDeletePublicKeyError, "ERR DEL PUBKEY"},
    {kGetLanguageListError, "ERR GET LANLIST"},
    {kHashTypeError, "ERR HASH TYPE"},
    {kAsymIdTypeError, "ERR ASYMID TYPE"},
    {kCertUsageError, "ERR CERT USAGE"},
    {kUpdateAdminKeyError, "ERR UPDATE ADMIN KEY"},
    {kSecureInitError, "ERR SECURE INIT"},
    {kNoMatchPublicKey, "NO MATCH PUBKEY"},
    {kNoCertificate, "ERR NO CERT"},
    {kInvalidHashType, "INVALID HASHTYPE"},
    {kNewContainerError, "ERR NEW CNT"},
    {kGetAsymKeyError, "ERR GET ASYSKEY"},
    {kAddAsymKeyToContainerError, "ERR ADD ASYSKEY TO CONTAINER"},
    {kConvertPublicKeyError, "ERR CONVERT PUBKEY"},
    {kDefaultPin, "ERR DEFAULT PIN"},
    {kKeyShowNull, "ERR KEYSHOW NULL"},
    {kXmlBadData, "ERR XML BAD DATA"},
    {kOpenFileError, "ERR OPEN FILE"},
    {kWriteFileError, "ERR WRITE FILE"},
    {kNoFile, "ERR NO FILE"},
    {kCreateP7Failed, "CREATEP7 FAILED"},
    {kKeyShowTooLong, "KEYSHOW TOOLONG"},
    {kNotTradeData, "NOT TRADEDATA"},
    {kFileTooLong, "FILE TOOLONG"},
    {kTlvEncodeError, "ERR TLV ENCODE"},
    {kTlvDecodeError, "ERR TLV DECODE"},
    {kConvertStringError, "CONVERT STR ERR"},
    {kPrintError, "PRINT ERR"},
    {kNoFileLocked, "ERR NOFILE LOCKED"},
    {kTokenInfoError, "ERR TOKEN INFO"},
    {kNoMoreContainers, "ERR NO MORE CNT"},
    {kBase64DecodeError, "ERR BASE64 DECODE"},
    {kBase64EncodeError, "ERR BASE64 ENCODE"},
    {kGenerateAsymKeyError, "ERR GEN ASYSKEY"},
    {kMakeRequestError, "ERR MAKE REQ"},
    {kNoMatchCertificate, "ERR NO MATCH CERT"},
    {kCertDataError, "ERR CERT DATA"},
    {kAnalyzeCertError, "ERR ANALYZE CERT"},
    {kWriteCertError, "ERR WRITE CERT"},
    {kSignFailed, "SIGN FAILED"},
    {kVerifyFailed, "VERIFY FAILED"},
    {kFunctionUnsupported, "ERR FUNC UNSUPPORT"},
    {kDerDecodeError, "ERR DER DECODE"},
    {kTooManyCertificates, "ERR TOOMANY CERT"},
}};

// The failed PIN change's -(200 + n) codes that read as kVerifyPinRetry.
constexpr ApiErrorCode kFirstRetryCode{-206};
constexpr ApiErrorCode kLastRetryCode{-201};

}  // namespace

std::ostream& operator<<(std::ostream& out, ApiErrorCode code) {
    return out << code.number();
}

std::span<const ResultCodeText> resultCodeTexts() noexcept {
    return kTexts;
}

const char* resultCodeText(ApiErrorCode code) noexcept {
    if (code >= kFirstRetryCode && code <= kLastRetryCode) {
        code = kVerifyPinRetry;
    }
    for (const ResultCodeText& row : kTexts) {
        if (row.code == code) {
            return row.text;
        }
    }
    return kOtherErrorText;
}

}  // namespace orva
