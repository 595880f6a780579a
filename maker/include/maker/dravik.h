#pragma once

// The maker's token-manager library, Dravik: the functions the token API library
// calls, with the types it calls them with, and the status words they return.
// Every function returns a 32-bit status word, DRV_OK (0) on success. Handles are
// opaque: an unknown or released one gives DRV_E_INVALID_HANDLE.

#include <stdint.h>

#include "orva/export.h"

// Successes and the key's answers.
#define DRV_OK 0x00000000u
#define DRV_END_OF_CONTAINERS 0x80000304u  // QZEnumContainer: no further container
#define DRV_PREPARED 0x80000C00u           // QZAsymSign operation 3: transaction prepared
#define DRV_SW_OK 0x9000u                  // NDTransmit: the card's "done"

// The person at the key.
#define DRV_E_CANCELLED 0x00000001u        // the user cancelled (PIN entry or button)
#define DRV_E_PIN_LOCKED 0x000000A4u       // no PIN tries left
#define DRV_E_DEFAULT_PIN 0x80000101u      // the right PIN, but still the default one
#define DRV_E_TIMEOUT 0x80000A01u          // nobody pressed the button in time
#define DRV_E_BUTTON_BROKEN 0x80000A04u    // the button does not answer
#define DRV_E_EMPTY_DISPLAY 0x9000D10Du    // the packet's display text is empty
#define DRV_E_BAD_TRANSACTION 0x9000D10Eu  // malformed packet, or not the prepared transaction
#define DRV_E_WRONG_PIN_BASE 0x000063C0u   // wrong PIN: DRV_E_WRONG_PIN_BASE | tries left
#define DRV_E_WRONG_PIN(n) (DRV_E_WRONG_PIN_BASE | ((uint32_t)(n)&0x0Fu))

// The key's refusals (ISO 7816 status words).
#define DRV_E_AUTH_FAILED 0x00006300u    // external authentication refused
#define DRV_E_WRITE_FAILED 0x00006581u   // the key's memory could not be written
#define DRV_E_SECURITY 0x00006982u       // security status not satisfied (no PIN verified)
#define DRV_E_CONDITIONS 0x00006985u     // conditions of use not satisfied
#define DRV_E_WRONG_DATA 0x00006A80u     // wrong data in the command
#define DRV_E_NOT_FOUND 0x00006A82u      // no such container, file or key
#define DRV_E_NO_SPACE 0x00006A84u       // no room for another container or key
#define DRV_E_EXISTS 0x00006A89u         // a container of that name exists
#define DRV_E_NOT_SUPPORTED 0x00006D00u  // the function or command is not supported
#define DRV_E_INTERNAL 0x00006F00u       // the key failed inside

// The library's refusals.
#define DRV_E_INVALID_HANDLE 0x80000006u    // not a live context or device handle
#define DRV_E_BAD_ARGUMENT 0x80000057u      // an argument out of its range, or null
#define DRV_E_BUFFER_TOO_SMALL 0x8000007Au  // the length given is too small; it now holds the need
#define DRV_E_DEVICE_REMOVED 0x80000201u    // the key is no longer plugged in

// The key's user PIN and the external-authentication key.
#define DRV_PIN_USER 2u
#define DRV_DEVICE_AUTH_KEY 0x4D01u

// Certificate files inside a container.
#define DRV_FILE_SIGN_CERT 3u
#define DRV_FILE_EXCH_CERT 10u

// QZAsymSign operations.
#define DRV_SIGN_DIGEST 1u   // SM2: sign the given 32-byte digest
#define DRV_SIGN_DATA 2u     // SM2: SM3 with Z over the data; RSA: PKCS#1 v1.5 with the hash id
#define DRV_SIGN_PREPARE 3u  // remember the transaction text and the packet form
#define DRV_SIGN_CONFIRM 5u  // show the packet, get PIN and button, sign the packet

// Fixed room of outputs that come without a length.
#define DRV_SERIAL_ROOM 64u            // QZReadSN
#define DRV_CONTAINER_NAME_ROOM 1024u  // QZEnumContainer
#define DRV_ADMIN_RECORD_ROOM 32u      // QZGetAdminKeyInfo
#define DRV_RANDOM_FOR_ENC_ROOM 16u    // QZGetRandomForEnc
#define DRV_TEMP_KEY_ROOM 64u          // QZGetTemKey

// What QZGetContainerInfo reports about one container: 23 words, numbered 1 to 23
// in the comments. Words marked reserved are written as 0.
typedef struct DRV_CONTAINER_INFO {
    uint32_t containerId;      //  1: the container's index, 1..255
    uint32_t usage;            //  2: 2 once a signature key is bound, else 0
    uint32_t signAlgId;        //  3: signature key algorithm (2, 3 RSA; 10 SM2)
    uint32_t exchAlgId;        //  4: exchange key algorithm
    uint32_t reserved5;        //  5
    uint32_t signKeyPresent;   //  6
    uint32_t signCertPresent;  //  7
    uint32_t reserved8;        //  8
    uint32_t exchKeyPresent;   //  9
    uint32_t exchCertPresent;  // 10
    uint32_t signKeyWord;      // 11: the signature private-key file id (QZAsymSign's key word)
    uint32_t signPubKeyFid;    // 12
    uint32_t reserved13[5];    // 13..17
    uint32_t exchPubKeyFid;    // 18
    uint32_t reserved19[4];    // 19..22
    uint32_t type;             // 23: container type (2 text-form signer, 3 binary-form signer)
} DRV_CONTAINER_INFO;

// Reader context and devices.
ORVA_API_ENTRY uint32_t NDEstablishContext(void** context);
ORVA_API_ENTRY uint32_t NDReleaseContext(void* context);
// Records the keys plugged in (sorted by serial) and reports them as slot ids 1..n:
// at most min(maxSlots, *count) ids are written; *count becomes n, which may be more.
ORVA_API_ENTRY uint32_t NDGetSlotList(void* context, uint32_t maxSlots, uint32_t* slots,
                                      uint32_t* count);
ORVA_API_ENTRY uint32_t NDOpen(void* context, uint32_t slotId, void** device);
ORVA_API_ENTRY uint32_t NDClose(void* device);
ORVA_API_ENTRY uint32_t NDBeginTransaction(void* device);
ORVA_API_ENTRY uint32_t NDEndTransaction(void* device);
// Returns the card's status word (DRV_SW_OK on success); writes no response.
ORVA_API_ENTRY uint32_t NDTransmit(void* device, const uint8_t* apdu, uint32_t apduLen,
                                   uint8_t* response, uint32_t* responseLen);

// Authentication and the user PIN.
ORVA_API_ENTRY uint32_t QZExternAuth(void* device, uint32_t keyId);
// A null PIN (or length 0) makes the key ask its user; flag 1 accepts a PIN
// verified earlier in this session.
ORVA_API_ENTRY uint32_t QZVerifyPIN(void* device, uint32_t pinType, const char* pin,
                                    uint32_t pinLen, void* reserved, uint32_t flag);
ORVA_API_ENTRY uint32_t QZChangePIN(void* device, uint32_t pinType, const char* oldPin,
                                    uint32_t oldPinLen, const char* newPin, uint32_t newPinLen,
                                    uint32_t* triesLeft);
ORVA_API_ENTRY uint32_t QZClearPINCache(void* device, uint32_t keyId);
ORVA_API_ENTRY uint32_t QZInitADF(void* device, uint32_t reserved1, uint32_t reserved2,
                                  const char* pin, uint32_t pinLen, uint32_t reserved3,
                                  void* reserved4, uint32_t reserved5, uint32_t reserved6);

// Containers. name must hold DRV_CONTAINER_NAME_ROOM bytes (may be null).
ORVA_API_ENTRY uint32_t QZEnumContainer(void* device, uint32_t reserved, uint32_t first,
                                        uint32_t* index, char* name);
ORVA_API_ENTRY uint32_t QZGetContainerInfo(void* device, uint32_t index, DRV_CONTAINER_INFO* info);
ORVA_API_ENTRY uint32_t QZNewContainer(void* device, const char* name, uint32_t reserved,
                                       uint32_t* index);
ORVA_API_ENTRY uint32_t QZDelContainer(void* device, uint32_t index);
ORVA_API_ENTRY uint32_t QZDelMultiContainers(void* device, const uint32_t* indexes, uint32_t count);
ORVA_API_ENTRY uint32_t QZWriteFileToContainer(void* device, uint32_t container, uint32_t fileId,
                                               const uint8_t* data, uint32_t len);
ORVA_API_ENTRY uint32_t QZReadFileFromContainer(void* device, uint8_t index, uint32_t fileId,
                                                uint8_t* buffer, uint32_t* len);
ORVA_API_ENTRY uint32_t QZBindPriKeyToContainer(void* device, uint32_t container, uint32_t fid,
                                                uint32_t usage, uint32_t algId);

// Key files and key pairs.
ORVA_API_ENTRY uint32_t QZGetFreePriKeyFID(void* device, uint32_t* fid);
ORVA_API_ENTRY uint32_t QZAsymGenerateKeyPair(void* device, uint32_t algId, uint32_t usage,
                                              uint32_t fid, uint8_t* publicKey,
                                              uint32_t* publicKeyLen, uint32_t flag);
ORVA_API_ENTRY uint32_t QZReadFile(void* device, uint32_t fid, uint32_t offset, uint8_t* buffer,
                                   uint32_t* len);
// ids must hold one byte per key pair (at most 49); *count's value on entry is not read.
ORVA_API_ENTRY uint32_t QZGetPubKeyIDs(void* device, uint8_t* ids, uint32_t* count);
ORVA_API_ENTRY uint32_t QZGetEncPubKey(void* device, uint8_t id, uint8_t* out, uint32_t* len);
// serverRandom is 15 bytes.
ORVA_API_ENTRY uint32_t QZGetEncPubKey_New(void* device, uint8_t keyType, const uint8_t* ids,
                                           uint32_t idCount, const uint8_t* serverRandom,
                                           uint8_t* out, uint32_t* len);
ORVA_API_ENTRY uint32_t QZAsymImportKey_ORVA(void* device, uint32_t fid, uint32_t unwrapFid,
                                             uint32_t algWord, const uint8_t* a, uint32_t aLen,
                                             const uint8_t* b, uint32_t bLen, const uint8_t* c,
                                             uint32_t cLen, const uint8_t* serverRandom,
                                             uint32_t serverRandomLen);
ORVA_API_ENTRY uint32_t QZAsymSign(void* device, uint32_t hashId, uint32_t keyAlgId, uint32_t form,
                                   uint32_t keyWord, int32_t language, int32_t charset,
                                   const char* tips, uint32_t tipsLen, const char* keyMsg,
                                   uint32_t keyMsgLen, uint32_t op, const uint8_t* data,
                                   uint32_t dataLen, uint8_t* signature, uint32_t* signatureLen);

// What the key tells about itself.
ORVA_API_ENTRY uint32_t QZReadSN(void* device, char* serial);
ORVA_API_ENTRY uint32_t QZGetAdminKeyInfo(void* device, uint8_t* record);
ORVA_API_ENTRY uint32_t QZGetTemKey(void* device, uint8_t* out, uint32_t* len);
ORVA_API_ENTRY uint32_t QZGetRandomForEnc(void* device, uint32_t len, uint8_t* out);
ORVA_API_ENTRY uint32_t QZGetLanguageList(void* device, uint8_t* codes, uint32_t* count);
