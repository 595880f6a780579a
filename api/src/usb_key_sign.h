#pragma once

// RunUsbKeySign: the body shared by the transaction-signing export and the
// file-signing export. It checks the arguments, opens the key, chooses the
// signer's container, has the key prepare the transaction, builds the
// to-be-signed packet, has the key show it and sign it while the caller's
// window is disabled, and hands the base64 PKCS#7 SignedData to the caller's
// buffer, to a file the caller names, or to the file-mode tail.

#include <functional>
#include <string_view>

#include "orva_result_codes.h"

namespace orva::api {

class AttachedFile;

// The nine arguments of QZAPI_GMUsbKeySign, as the caller gave them.
struct UsbKeySignArguments {
    const char* signerDn = nullptr;  // UTF-8
    const char* hashName = nullptr;  // "SHA1" ... "SM3", or empty
    const char* xmlMsg = nullptr;    // the transaction, xmlMsgLength bytes
    int xmlMsgLength = 0;
    const char* signFilePath = nullptr;  // file to attach, or empty
    const char* keyMsg = nullptr;        // the text the key shows, NUL-terminated
    const char* p7FilePath = nullptr;    // file for the signature, or empty
    char* buffer = nullptr;
    int* length = nullptr;
};

// File mode: what happens to the signature inside the device session, before
// it closes. Its code is the call's.
using FileModeTail = std::function<ApiErrorCode(std::string_view base64Signature)>;

// With fileModeTail null: buffer mode, or output-file mode when p7FilePath is
// non-empty. With it: file mode (the buffer and length are not used).
// checkedFile, when given, is the file to attach, opened and checked under
// signFilePath; a write to it before the key signs is kTokenInfoError. Otherwise the file
// at signFilePath is opened at its first use and read through that descriptor
// for the rest of the call.
ApiErrorCode runUsbKeySign(const UsbKeySignArguments& arguments,
                           const FileModeTail* fileModeTail = nullptr,
                           AttachedFile* checkedFile = nullptr);

}  // namespace orva::api
