// Dravik's 88 entry points. The 34 the token API library calls are thin
// wrappers over operations.h; the other 54 exist so the library binds, and
// answer "not supported".

#include "maker/dravik.h"
#include "maker/export_names.h"
#include "operations.h"

using orva::dravik::Call;
using orva::dravik::guarded;

// The entries nothing calls, made from the list the token API library binds
// from: no arguments are read, so none are declared.
#define DRV_CALLED(name)
#define DRV_UNSUPPORTED(name)            \
    ORVA_API_ENTRY uint32_t name(void) { \
        return DRV_E_NOT_SUPPORTED;      \
    }
ORVA_DRAVIK_NAMES(DRV_CALLED, DRV_UNSUPPORTED)
#undef DRV_CALLED
#undef DRV_UNSUPPORTED

ORVA_API_ENTRY uint32_t NDEstablishContext(void** context) {
    return guarded("NDEstablishContext",
                   [&](Call& call) { return orva::dravik::establishContext(call, context); });
}

ORVA_API_ENTRY uint32_t NDReleaseContext(void* context) {
    return guarded("NDReleaseContext",
                   [&](Call& call) { return orva::dravik::releaseContext(call, context); });
}

ORVA_API_ENTRY uint32_t NDTransmit(void* device, const uint8_t* apdu, uint32_t apduLen,
                                   uint8_t* response, uint32_t* responseLen) {
    return guarded("NDTransmit", [&](Call& call) {
        return orva::dravik::transmit(call, device, apdu, apduLen, response, responseLen);
    });
}

ORVA_API_ENTRY uint32_t NDOpen(void* context, uint32_t slotId, void** device) {
    return guarded("NDOpen",
                   [&](Call& call) { return orva::dravik::open(call, context, slotId, device); });
}

ORVA_API_ENTRY uint32_t NDClose(void* device) {
    return guarded("NDClose", [&](Call& call) { return orva::dravik::close(call, device); });
}

ORVA_API_ENTRY uint32_t NDGetSlotList(void* context, uint32_t maxSlots, uint32_t* slots,
                                      uint32_t* count) {
    return guarded("NDGetSlotList", [&](Call& call) {
        return orva::dravik::getSlotList(call, context, maxSlots, slots, count);
    });
}

ORVA_API_ENTRY uint32_t NDBeginTransaction(void* device) {
    return guarded("NDBeginTransaction",
                   [&](Call& call) { return orva::dravik::beginTransaction(call, device); });
}

ORVA_API_ENTRY uint32_t NDEndTransaction(void* device) {
    return guarded("NDEndTransaction",
                   [&](Call& call) { return orva::dravik::endTransaction(call, device); });
}

ORVA_API_ENTRY uint32_t QZVerifyPIN(void* device, uint32_t pinType, const char* pin,
                                    uint32_t pinLen, void*, uint32_t flag) {
    return guarded("QZVerifyPIN", [&](Call& call) {
        return orva::dravik::verifyPin(call, device, pinType, pin, pinLen, flag);
    });
}

ORVA_API_ENTRY uint32_t QZChangePIN(void* device, uint32_t pinType, const char* oldPin,
                                    uint32_t oldPinLen, const char* newPin, uint32_t newPinLen,
                                    uint32_t* triesLeft) {
    return guarded("QZChangePIN", [&](Call& call) {
        return orva::dravik::changePin(call, device, pinType, oldPin, oldPinLen, newPin, newPinLen,
                                       triesLeft);
    });
}

ORVA_API_ENTRY uint32_t QZExternAuth(void* device, uint32_t keyId) {
    return guarded("QZExternAuth",
                   [&](Call& call) { return orva::dravik::externAuth(call, device, keyId); });
}

ORVA_API_ENTRY uint32_t QZClearPINCache(void* device, uint32_t keyId) {
    return guarded("QZClearPINCache",
                   [&](Call& call) { return orva::dravik::clearPinCache(call, device, keyId); });
}

ORVA_API_ENTRY uint32_t QZEnumContainer(void* device, uint32_t, uint32_t first, uint32_t* index,
                                        char* name) {
    return guarded("QZEnumContainer", [&](Call& call) {
        return orva::dravik::enumContainer(call, device, first, index, name);
    });
}

ORVA_API_ENTRY uint32_t QZNewContainer(void* device, const char* name, uint32_t, uint32_t* index) {
    return guarded("QZNewContainer", [&](Call& call) {
        return orva::dravik::newContainer(call, device, name, index);
    });
}

ORVA_API_ENTRY uint32_t QZDelContainer(void* device, uint32_t index) {
    return guarded("QZDelContainer",
                   [&](Call& call) { return orva::dravik::delContainer(call, device, index); });
}

ORVA_API_ENTRY uint32_t QZDelMultiContainers(void* device, const uint32_t* indexes,
                                             uint32_t count) {
    return guarded("QZDelMultiContainers", [&](Call& call) {
        return orva::dravik::delMultiContainers(call, device, indexes, count);
    });
}

ORVA_API_ENTRY uint32_t QZBindPriKeyToContainer(void* device, uint32_t container, uint32_t fid,
                                                uint32_t usage, uint32_t algId) {
    return guarded("QZBindPriKeyToContainer", [&](Call& call) {
        return orva::dravik::bindPriKeyToContainer(call, device, container, fid, usage, algId);
    });
}

ORVA_API_ENTRY uint32_t QZWriteFileToContainer(void* device, uint32_t container, uint32_t fileId,
                                               const uint8_t* data, uint32_t len) {
    return guarded("QZWriteFileToContainer", [&](Call& call) {
        return orva::dravik::writeFileToContainer(call, device, container, fileId, data, len);
    });
}

ORVA_API_ENTRY uint32_t QZReadFileFromContainer(void* device, uint8_t index, uint32_t fileId,
                                                uint8_t* buffer, uint32_t* len) {
    return guarded("QZReadFileFromContainer", [&](Call& call) {
        return orva::dravik::readFileFromContainer(call, device, index, fileId, buffer, len);
    });
}

ORVA_API_ENTRY uint32_t QZGetContainerInfo(void* device, uint32_t index, DRV_CONTAINER_INFO* info) {
    return guarded("QZGetContainerInfo", [&](Call& call) {
        return orva::dravik::getContainerInfo(call, device, index, info);
    });
}

ORVA_API_ENTRY uint32_t QZGetFreePriKeyFID(void* device, uint32_t* fid) {
    return guarded("QZGetFreePriKeyFID",
                   [&](Call& call) { return orva::dravik::getFreePriKeyFid(call, device, fid); });
}

ORVA_API_ENTRY uint32_t QZReadFile(void* device, uint32_t fid, uint32_t offset, uint8_t* buffer,
                                   uint32_t* len) {
    return guarded("QZReadFile", [&](Call& call) {
        return orva::dravik::readFile(call, device, fid, offset, buffer, len);
    });
}

ORVA_API_ENTRY uint32_t QZInitADF(void* device, uint32_t, uint32_t, const char* pin,
                                  uint32_t pinLen, uint32_t, void*, uint32_t, uint32_t) {
    return guarded("QZInitADF",
                   [&](Call& call) { return orva::dravik::initAdf(call, device, pin, pinLen); });
}

ORVA_API_ENTRY uint32_t QZAsymGenerateKeyPair(void* device, uint32_t algId, uint32_t, uint32_t fid,
                                              uint8_t* publicKey, uint32_t* publicKeyLen,
                                              uint32_t) {
    return guarded("QZAsymGenerateKeyPair", [&](Call& call) {
        return orva::dravik::generateKeyPair(call, device, algId, fid, publicKey, publicKeyLen);
    });
}

ORVA_API_ENTRY uint32_t QZAsymSign(void* device, uint32_t hashId, uint32_t keyAlgId, uint32_t form,
                                   uint32_t keyWord, int32_t language, int32_t charset,
                                   const char* tips, uint32_t tipsLen, const char*, uint32_t,
                                   uint32_t op, const uint8_t* data, uint32_t dataLen,
                                   uint8_t* signature, uint32_t* signatureLen) {
    // The display text the key shows is the packet's own; keyMsg is not read.
    return guarded("QZAsymSign", [&](Call& call) {
        const orva::dravik::SignRequest request{hashId,  keyAlgId,  form,        keyWord, language,
                                                charset, tips,      tipsLen,     op,      data,
                                                dataLen, signature, signatureLen};
        return orva::dravik::asymSign(call, device, request);
    });
}

ORVA_API_ENTRY uint32_t QZReadSN(void* device, char* serial) {
    return guarded("QZReadSN",
                   [&](Call& call) { return orva::dravik::readSerial(call, device, serial); });
}

ORVA_API_ENTRY uint32_t QZGetRandomForEnc(void* device, uint32_t len, uint8_t* out) {
    return guarded("QZGetRandomForEnc", [&](Call& call) {
        return orva::dravik::getRandomForEnc(call, device, len, out);
    });
}

ORVA_API_ENTRY uint32_t QZGetPubKeyIDs(void* device, uint8_t* ids, uint32_t* count) {
    return guarded("QZGetPubKeyIDs", [&](Call& call) {
        return orva::dravik::getPubKeyIds(call, device, ids, count);
    });
}

ORVA_API_ENTRY uint32_t QZGetEncPubKey(void* device, uint8_t id, uint8_t* out, uint32_t* len) {
    return guarded("QZGetEncPubKey", [&](Call& call) {
        return orva::dravik::getEncPubKey(call, device, id, out, len);
    });
}

ORVA_API_ENTRY uint32_t QZGetEncPubKey_New(void* device, uint8_t keyType, const uint8_t* ids,
                                           uint32_t idCount, const uint8_t* serverRandom,
                                           uint8_t* out, uint32_t* len) {
    return guarded("QZGetEncPubKey_New", [&](Call& call) {
        return orva::dravik::getEncPubKeyNew(call, device, keyType, ids, idCount, serverRandom, out,
                                             len);
    });
}

ORVA_API_ENTRY uint32_t QZGetAdminKeyInfo(void* device, uint8_t* record) {
    return guarded("QZGetAdminKeyInfo",
                   [&](Call& call) { return orva::dravik::getAdminKeyInfo(call, device, record); });
}

ORVA_API_ENTRY uint32_t QZGetLanguageList(void* device, uint8_t* codes, uint32_t* count) {
    return guarded("QZGetLanguageList", [&](Call& call) {
        return orva::dravik::getLanguageList(call, device, codes, count);
    });
}

ORVA_API_ENTRY uint32_t QZGetTemKey(void* device, uint8_t* out, uint32_t* len) {
    return guarded("QZGetTemKey",
                   [&](Call& call) { return orva::dravik::getTempKey(call, device, out, len); });
}

ORVA_API_ENTRY uint32_t QZAsymImportKey_ORVA(void* device, uint32_t fid, uint32_t unwrapFid,
                                             uint32_t algWord, const uint8_t* a, uint32_t aLen,
                                             const uint8_t* b, uint32_t bLen, const uint8_t* c,
                                             uint32_t cLen, const uint8_t* serverRandom,
                                             uint32_t serverRandomLen) {
    return guarded("QZAsymImportKey_ORVA", [&](Call& call) {
        return orva::dravik::importKey(call, device, fid, unwrapFid, algWord, a, aLen, b, bLen, c,
                                       cLen, serverRandom, serverRandomLen);
    });
}
