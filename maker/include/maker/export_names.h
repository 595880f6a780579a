#pragma once

// The names the maker's libraries export, each list in the order the token API
// library looks them up. CALLED(name) marks a function that library calls (its
// entry gets the maker header's type); BOUND(name) one that is required at load
// but never called, which the software key answers with "not supported". Both
// the binding and the software key's exports are made from these lists.

#include <cstddef>

#define ORVA_DRAVIK_NAMES(CALLED, BOUND) \
    CALLED(NDEstablishContext)           \
    CALLED(NDReleaseContext)             \
    CALLED(NDTransmit)                   \
    CALLED(NDOpen)                       \
    CALLED(NDClose)                      \
    CALLED(NDGetSlotList)                \
    BOUND(NDGetSlotName)                 \
    BOUND(NDOpenByName)                  \
    BOUND(NDWaitForDevEvent)             \
    BOUND(NDCancelWaitForDevEvent)       \
    CALLED(NDBeginTransaction)           \
    CALLED(NDEndTransaction)             \
    CALLED(QZVerifyPIN)                  \
    BOUND(QZVerifyPINSetMode)            \
    CALLED(QZChangePIN)                  \
    BOUND(QZUnlockUserPIN)               \
    BOUND(QZGetPINRemainTimes)           \
    BOUND(QZIsDefaultPINChanged)         \
    BOUND(QZSCardGetPINStatus)           \
    CALLED(QZExternAuth)                 \
    BOUND(QZVerifyDevAuthKey)            \
    BOUND(QZChangeDevAuthKey)            \
    CALLED(QZClearPINCache)              \
    CALLED(QZEnumContainer)              \
    BOUND(QZOpenContainer)               \
    CALLED(QZNewContainer)               \
    CALLED(QZDelContainer)               \
    CALLED(QZDelMultiContainers)         \
    BOUND(QZDeleteFileInContainer)       \
    CALLED(QZBindPriKeyToContainer)      \
    CALLED(QZWriteFileToContainer)       \
    CALLED(QZReadFileFromContainer)      \
    BOUND(QZGetContainerName)            \
    CALLED(QZGetContainerInfo)           \
    BOUND(QZGetContainersCount)          \
    CALLED(QZGetFreePriKeyFID)           \
    BOUND(QZGetRelativeFIDInContainer)   \
    BOUND(QZCreateFile)                  \
    CALLED(QZReadFile)                   \
    BOUND(QZWriteFile)                   \
    BOUND(QZGetFileSize)                 \
    BOUND(QZSelectFile)                  \
    BOUND(QZDeleteFile)                  \
    CALLED(QZInitADF)                    \
    BOUND(QZInitMF)                      \
    BOUND(QZCreateADF)                   \
    BOUND(QZSCardEraseEF)                \
    BOUND(QZSetCurrentADF)               \
    BOUND(QZGetCurrentADF)               \
    BOUND(QZPrepareBinFile)              \
    BOUND(QZGetFreeDataObjectFID)        \
    BOUND(QZRegisterDataObject)          \
    BOUND(QZGetDataObjectsList)          \
    CALLED(QZAsymGenerateKeyPair)        \
    CALLED(QZAsymSign)                   \
    BOUND(QZAsymVerify)                  \
    BOUND(QZAsymEncrypt)                 \
    BOUND(QZAsymDecrypt)                 \
    BOUND(QZAsymExchange)                \
    BOUND(QZAsymImportKey)               \
    BOUND(QZAsymImportKeyNoSymmParam)    \
    BOUND(QZAsymExportKey)               \
    BOUND(QZImportSessionKey)            \
    BOUND(QZSymmInitKey)                 \
    BOUND(QZSymmEncrypt)                 \
    BOUND(QZSymmDecrypt)                 \
    CALLED(QZReadSN)                     \
    BOUND(QZWriteSN)                     \
    BOUND(QZReadLabel)                   \
    BOUND(QZWriteLabel)                  \
    BOUND(QZReadTokenInfo)               \
    BOUND(QZWriteTokenInfo)              \
    BOUND(QZGetRandom)                   \
    BOUND(QZGetFreeSpace)                \
    BOUND(QZGetLifeCycle)                \
    BOUND(QZSetLifeCycle)                \
    BOUND(QZGetATR)                      \
    BOUND(QZGetProviderName)             \
    CALLED(QZGetRandomForEnc)            \
    CALLED(QZGetPubKeyIDs)               \
    CALLED(QZGetEncPubKey)               \
    CALLED(QZGetEncPubKey_New)           \
    CALLED(QZGetAdminKeyInfo)            \
    BOUND(QZUpdateAdminKey)              \
    CALLED(QZGetLanguageList)            \
    CALLED(QZGetTemKey)                  \
    BOUND(QZSecureInitADF)               \
    CALLED(QZAsymImportKey_ORVA)

#define ORVA_QZALGLIB_NAMES(CALLED, BOUND) \
    CALLED(QZA_Base64_Encode)              \
    BOUND(QZA_Base64_Decode)               \
    CALLED(QZA_Hash)                       \
    BOUND(QZA_HashRelay)                   \
    CALLED(QZA_Hash_Init)                  \
    CALLED(QZA_Hash_Update)                \
    CALLED(QZA_Hash_Final)                 \
    CALLED(QZA_SM3ZA)                      \
    CALLED(QZA_Encrypt)                    \
    BOUND(QZA_Decrypt)                     \
    BOUND(QZA_StreamEncrypt_Init)          \
    BOUND(QZA_StreamEncrypt_Update)        \
    BOUND(QZA_StreamEncrypt_Final)         \
    BOUND(QZA_CMAC)                        \
    BOUND(QZA_RSA_PubKey_Encrypt_QZKey)    \
    BOUND(QZA_RSA_PubKey_Encrypt_RSAEuro)  \
    BOUND(QZA_RSA_PriKey_Decrypt_RSAEuro)  \
    BOUND(QZA_RSA_Verify_QZKey)            \
    BOUND(QZA_RSA_Verify_RSAEuro)          \
    BOUND(QZA_RSA_Sign_PKCS1Padding)       \
    BOUND(QZA_RSA_Sign_PKCS1PSSPadding)    \
    BOUND(QZA_RSA_GenKey)                  \
    BOUND(QZA_SM2_VerifySignature)         \
    BOUND(QZA_SM2_Sign)                    \
    BOUND(QZA_SM2_Encrypt)                 \
    BOUND(QZA_SM2_Decrypt)                 \
    BOUND(QZA_ReverseMemCopy)              \
    BOUND(QZA_ReverseData)                 \
    BOUND(QZA_DesMAC)                      \
    BOUND(QZA_SM4MAC)                      \
    CALLED(QZA_Random)                     \
    CALLED(QZA_GetHashValueSize)           \
    BOUND(QZA_GetHashBlockSize)            \
    CALLED(QZA_GetSymmBlockSize)           \
    BOUND(QZA_GetSymmKeySize)              \
    CALLED(QZA_GetAsymKeyBits)             \
    CALLED(QZA_DecodeX509Cert)             \
    BOUND(QZA_VerifyPKCS7Signature_ORVA)

#define ORVA_PELNOR_NAMES(CALLED, BOUND) \
    BOUND(AuxLoadTarnoxIni)              \
    BOUND(AuxWriteLog)                   \
    CALLED(AuxRegUserCert)               \
    CALLED(AuxUnRegUserCert)             \
    BOUND(AuxGenContainerName)           \
    BOUND(AuxExpMatch)

// Scrivel's logging entry points, each optional: a missing one logs nothing.
#define ORVA_SCRIVEL_NAMES(CALLED) \
    CALLED(LogW)                   \
    CALLED(LogA)

namespace orva::maker {

#define ORVA_MAKER_COUNT_NAME(name) +1
#define ORVA_MAKER_SKIP_NAME(name)
inline constexpr std::size_t kDravikNames =
    0 ORVA_DRAVIK_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_COUNT_NAME);
inline constexpr std::size_t kDravikCalled =
    0 ORVA_DRAVIK_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_SKIP_NAME);
inline constexpr std::size_t kQZAlgLibNames =
    0 ORVA_QZALGLIB_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_COUNT_NAME);
inline constexpr std::size_t kQZAlgLibCalled =
    0 ORVA_QZALGLIB_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_SKIP_NAME);
inline constexpr std::size_t kPelnorNames =
    0 ORVA_PELNOR_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_COUNT_NAME);
inline constexpr std::size_t kPelnorCalled =
    0 ORVA_PELNOR_NAMES(ORVA_MAKER_COUNT_NAME, ORVA_MAKER_SKIP_NAME);
inline constexpr std::size_t kScrivelNames = 0 ORVA_SCRIVEL_NAMES(ORVA_MAKER_COUNT_NAME);
#undef ORVA_MAKER_COUNT_NAME
#undef ORVA_MAKER_SKIP_NAME

// The maker's libraries export exactly these many names; a list edited by
// mistake fails here rather than at load.
static_assert(kDravikNames == 88 && kDravikCalled == 34);
static_assert(kQZAlgLibNames == 38 && kQZAlgLibCalled == 12);
static_assert(kPelnorNames == 6 && kPelnorCalled == 2);
static_assert(kScrivelNames == 2);

}  // namespace orva::maker
