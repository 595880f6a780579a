// QZAPI_GMUsbKeySign: a transaction signed on the key, after its user has read
// it on the key's display and pressed the button.

#include "export_guard.h"
#include "orva_api.h"
#include "usb_key_sign.h"

extern "C" int QZAPI_GMUsbKeySign(const char* signerDn, const char* hashName,
                                  const char* xmlMessage, int xmlMessageLength,
                                  const char* signFilePath, const char* keyMessage,
                                  const char* p7FilePath, char* buffer, int* length) {
    return orva::api::guardedExport([&] {
        return orva::api::runUsbKeySign({signerDn, hashName, xmlMessage, xmlMessageLength,
                                         signFilePath, keyMessage, p7FilePath, buffer, length});
    });
}
