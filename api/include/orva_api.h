#pragma once

// The token API library ORVA_API: its 40 exports, in the order in which the
// front ends resolve them. Every export returns a result code (0 success, a
// negative code on failure; see orva_result_codes.h). A text comes back in the
// caller's buffer with an in/out length: a null buffer asks for the size with
// the NUL, a short buffer gets kBufferTooSmall and that size, success sets the length to
// the text without its NUL. The library never hands out memory.
//
// Lengths and counts are 32-bit (int is 32-bit on every target we build).

#include "orva/export.h"

// Device information and settings.
ORVA_API_ENTRY int QZAPI_GetDevSN(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GetDriverVer(char* buffer, int* length);

// Certificate and public-key queries.
ORVA_API_ENTRY int QZAPI_GMGetCertDN(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMGetPubkeyInfo(const char* filter, char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMGetPubkeyInfoC(const char* keyType, const char* dnOrId,
                                          const char* base64ServerRandom, char* buffer,
                                          int* length);
ORVA_API_ENTRY int QZAPI_GetPublicKeyC(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMGetAdminKeyInfo(char* buffer, int* length);

// Key deletion. certDnLength counts the bytes of certDn to read.
ORVA_API_ENTRY int QZAPI_GMDelTempKey(const char* certDn, int certDnLength,
                                      const char* publicKeyId);

// PIN and key initialisation. A null PIN leaves the PIN entry to the key.
ORVA_API_ENTRY int QZAPI_CustInitCard(const char* pin, int pinLength);
ORVA_API_ENTRY int QZAPI_ChangePIN(const char* oldPin, int oldPinLength, const char* newPin,
                                   int newPinLength);

// Charset, device language and warning text handed to the key with every signature.
ORVA_API_ENTRY int QZAPI_GetCharset(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_SetCharset(const char* charset);
ORVA_API_ENTRY int QZAPI_GetDevLanguageList(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_SetDevLanguage(const char* language);
ORVA_API_ENTRY int QZAPI_SetWarningTips(const char* warningText);

// Transaction signing. xmlMessage is taken as xmlMessageLength bytes.
ORVA_API_ENTRY int QZAPI_GMUsbKeySign(const char* signerDn, const char* hashName,
                                      const char* xmlMessage, int xmlMessageLength,
                                      const char* signFilePath, const char* keyMessage,
                                      const char* p7FilePath, char* buffer, int* length);

// Certificate requests and installation.
ORVA_API_ENTRY int QZAPI_GMCreatePKCS10(const char* description, char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMCreatePKCS10Ex(const char* pin, const char* description, char* buffer,
                                          int* length);
ORVA_API_ENTRY int QZAPI_GMWritePKCS7_Enc(const char* signCertP7, const char* encData,
                                          const char* serverRandom);

// More queries.
ORVA_API_ENTRY int QZAPI_GMGetTemKey(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMBankGetRand(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMGetPKCS7(char* buffer, int* length);

// Deletes older certificates of one subject; *unused must be valid and is never
// read or written. 0 when something was deleted, 1 when nothing had to be.
ORVA_API_ENTRY int QZAPI_GMJudgeAndDelOlderDN(int* unused);

// Names without a function: each answers kOperationFailed and reads nothing.
ORVA_API_ENTRY int QZAPI_SetAdminKey(void);
ORVA_API_ENTRY int QZAPI_GMORVAVerify(void);
ORVA_API_ENTRY int QZAPI_GMORVAGetXMLMsg(void);
ORVA_API_ENTRY int QZAPI_GMORVAGetKeyMsg(void);
ORVA_API_ENTRY int QZAPI_GMBankInitSec(void);

// File tokens and file signing.
ORVA_API_ENTRY int QZAPI_ChooseFileExt(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_FileToTokenExt(const char* path, char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GMUsbKeySignFileExt(const char* signerDn, const char* hashName,
                                             const char* xmlMessage, int xmlMessageLength,
                                             const char* keyMessage, const char* chosenFileToken,
                                             char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_GetSignFileContent(const char* signedFileToken, int maxLength,
                                            int fileOffset, char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_ChooseFile(char* buffer, int* length);

ORVA_API_ENTRY int QZAPI_GetPublicKeyNum(int* count);
ORVA_API_ENTRY int QZAPI_DelExpiredCert(void);
ORVA_API_ENTRY int QZAPI_GetCSPInfo(char* buffer, int* length);
ORVA_API_ENTRY int QZAPI_PrtRandomPIN(void);
ORVA_API_ENTRY int QZAPI_RegisterCert(void);
ORVA_API_ENTRY int QZAPI_UnRegisterCert(void);
// 1 RSA, 2 SM2, or a negative code.
ORVA_API_ENTRY int QZAPI_GetCertType(void);
