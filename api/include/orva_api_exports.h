#pragma once

// The 40 exports of the token API library, in the fixed order in which the
// front ends look them up.

#include <array>
#include <cstddef>

namespace orva {

// X(name) once per export, in lookup order; the export is QZAPI_<name>.
// Nine of them no command calls; they are required all the same.
#define ORVA_API_FUNCTION_LIST(X) \
    X(GetDevSN)                   \
    X(GetDriverVer)               \
    X(GMGetCertDN)                \
    X(GMGetPubkeyInfo)            \
    X(GMGetPubkeyInfoC)           \
    X(GetPublicKeyC)              \
    X(GMGetAdminKeyInfo)          \
    X(GMDelTempKey)               \
    X(CustInitCard)               \
    X(ChangePIN)                  \
    X(GetCharset)                 \
    X(SetCharset)                 \
    X(GetDevLanguageList)         \
    X(SetDevLanguage)             \
    X(SetWarningTips)             \
    X(GMUsbKeySign)               \
    X(GMCreatePKCS10)             \
    X(GMCreatePKCS10Ex)           \
    X(GMWritePKCS7_Enc)           \
    X(GMGetTemKey)                \
    X(GMBankGetRand)              \
    X(GMGetPKCS7)                 \
    X(GMJudgeAndDelOlderDN)       \
    X(SetAdminKey)                \
    X(GMORVAVerify)               \
    X(GMORVAGetXMLMsg)            \
    X(GMORVAGetKeyMsg)            \
    X(GMBankInitSec)              \
    X(ChooseFileExt)              \
    X(FileToTokenExt)             \
    X(GMUsbKeySignFileExt)        \
    X(GetSignFileContent)         \
    X(ChooseFile)                 \
    X(GetPublicKeyNum)            \
    X(DelExpiredCert)             \
    X(GetCSPInfo)                 \
    X(PrtRandomPIN)               \
    X(RegisterCert)               \
    X(UnRegisterCert)             \
    X(GetCertType)

inline constexpr std::size_t kApiFunctionCount = 40;
#define ORVA_API_FUNCTION_COUNT(name) +1
static_assert(0 ORVA_API_FUNCTION_LIST(ORVA_API_FUNCTION_COUNT) == kApiFunctionCount);
#undef ORVA_API_FUNCTION_COUNT

// The export names as GetProcAddress takes them, in lookup order.
inline constexpr std::array<const char*, kApiFunctionCount> kApiFunctionNames = {
#define ORVA_API_FUNCTION_NAME(name) "QZAPI_" #name,
    ORVA_API_FUNCTION_LIST(ORVA_API_FUNCTION_NAME)
#undef ORVA_API_FUNCTION_NAME
};

}  // namespace orva
