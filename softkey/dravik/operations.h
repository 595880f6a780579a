#pragma once

// The working functions behind Dravik's exports, one per called name, with the
// export's arguments after the call. Each returns the status word or throws.

#include <cstdint>

#include "call.h"

namespace orva::dravik {

// session.cpp
std::uint32_t establishContext(Call& call, void** context);
std::uint32_t releaseContext(Call& call, void* context);
std::uint32_t getSlotList(Call& call, void* context, std::uint32_t maxSlots, std::uint32_t* slots,
                          std::uint32_t* count);
std::uint32_t open(Call& call, void* context, std::uint32_t slotId, void** device);
std::uint32_t close(Call& call, void* device);
std::uint32_t beginTransaction(Call& call, void* device);
std::uint32_t endTransaction(Call& call, void* device);
std::uint32_t transmit(Call& call, void* device, const std::uint8_t* apdu, std::uint32_t apduLen,
                       std::uint8_t* response, std::uint32_t* responseLen);

// pin.cpp
std::uint32_t externAuth(Call& call, void* device, std::uint32_t keyId);
std::uint32_t verifyPin(Call& call, void* device, std::uint32_t pinType, const char* pin,
                        std::uint32_t pinLen, std::uint32_t flag);
std::uint32_t changePin(Call& call, void* device, std::uint32_t pinType, const char* oldPin,
                        std::uint32_t oldPinLen, const char* newPin, std::uint32_t newPinLen,
                        std::uint32_t* triesLeft);
std::uint32_t clearPinCache(Call& call, void* device, std::uint32_t keyId);
std::uint32_t initAdf(Call& call, void* device, const char* pin, std::uint32_t pinLen);

// containers.cpp
std::uint32_t enumContainer(Call& call, void* device, std::uint32_t first, std::uint32_t* index,
                            char* name);
std::uint32_t getContainerInfo(Call& call, void* device, std::uint32_t index,
                               DRV_CONTAINER_INFO* info);
std::uint32_t newContainer(Call& call, void* device, const char* name, std::uint32_t* index);
std::uint32_t delContainer(Call& call, void* device, std::uint32_t index);
std::uint32_t delMultiContainers(Call& call, void* device, const std::uint32_t* indexes,
                                 std::uint32_t count);
std::uint32_t writeFileToContainer(Call& call, void* device, std::uint32_t container,
                                   std::uint32_t fileId, const std::uint8_t* data,
                                   std::uint32_t len);
std::uint32_t readFileFromContainer(Call& call, void* device, std::uint8_t index,
                                    std::uint32_t fileId, std::uint8_t* buffer, std::uint32_t* len);
std::uint32_t bindPriKeyToContainer(Call& call, void* device, std::uint32_t container,
                                    std::uint32_t fid, std::uint32_t usage, std::uint32_t algId);

// keys.cpp
std::uint32_t getFreePriKeyFid(Call& call, void* device, std::uint32_t* fid);
std::uint32_t generateKeyPair(Call& call, void* device, std::uint32_t algId, std::uint32_t fid,
                              std::uint8_t* publicKey, std::uint32_t* publicKeyLen);
std::uint32_t readFile(Call& call, void* device, std::uint32_t fid, std::uint32_t offset,
                       std::uint8_t* buffer, std::uint32_t* len);
std::uint32_t getPubKeyIds(Call& call, void* device, std::uint8_t* ids, std::uint32_t* count);
std::uint32_t getEncPubKey(Call& call, void* device, std::uint8_t id, std::uint8_t* out,
                           std::uint32_t* len);
std::uint32_t getEncPubKeyNew(Call& call, void* device, std::uint8_t keyType,
                              const std::uint8_t* ids, std::uint32_t idCount,
                              const std::uint8_t* serverRandom, std::uint8_t* out,
                              std::uint32_t* len);
std::uint32_t importKey(Call& call, void* device, std::uint32_t fid, std::uint32_t unwrapFid,
                        std::uint32_t algWord, const std::uint8_t* a, std::uint32_t aLen,
                        const std::uint8_t* b, std::uint32_t bLen, const std::uint8_t* c,
                        std::uint32_t cLen, const std::uint8_t* serverRandom,
                        std::uint32_t serverRandomLen);

// sign.cpp
struct SignRequest {
    std::uint32_t hashId;
    std::uint32_t keyAlgId;
    std::uint32_t form;
    std::uint32_t keyWord;
    std::int32_t language;
    std::int32_t charset;
    const char* tips;
    std::uint32_t tipsLen;
    std::uint32_t op;
    const std::uint8_t* data;
    std::uint32_t dataLen;
    std::uint8_t* signature;
    std::uint32_t* signatureLen;
};
std::uint32_t asymSign(Call& call, void* device, const SignRequest& request);

// info.cpp
std::uint32_t readSerial(Call& call, void* device, char* serial);
std::uint32_t getAdminKeyInfo(Call& call, void* device, std::uint8_t* record);
std::uint32_t getTempKey(Call& call, void* device, std::uint8_t* out, std::uint32_t* len);
std::uint32_t getRandomForEnc(Call& call, void* device, std::uint32_t len, std::uint8_t* out);
std::uint32_t getLanguageList(Call& call, void* device, std::uint8_t* codes, std::uint32_t* count);

// The status a PIN check on the key ends in (pin.cpp): counts a wrong try,
// gives every try back on a right one.
std::uint32_t checkPin(Call& call, const Device& device, std::string_view pin);
// The PIN the scripted user types when the key asks for it, or the status of
// a user who does not (cancel, timeout, broken button, no PIN scripted).
std::uint32_t askPin(const softkey::ScriptedUser& user, bool newPin, softkey::SecureString& pin);

}  // namespace orva::dravik
