// Stand-ins that follow the buffer rules of the real exports.

#include "stub_api.h"

#include <algorithm>
#include <cstring>

namespace orva::native_host::fuzz {

namespace {

constexpr const char* kText = "stub";
constexpr int kBufferTooSmall = -303;

// A null buffer asks for the size; a short one gets kBufferTooSmall.
int fill(char* buffer, int* length) {
    if (length == nullptr) {
        return 0;
    }
    const int needed = static_cast<int>(std::strlen(kText)) + 1;
    if (buffer == nullptr) {
        *length = needed;
        return 0;
    }
    if (*length < needed) {
        *length = needed;
        return kBufferTooSmall;
    }
    std::memcpy(buffer, kText, static_cast<std::size_t>(needed));
    *length = needed - 1;
    return 0;
}

int text(char* buffer, int* length) {
    return fill(buffer, length);
}
int text1(const char*, char* buffer, int* length) {
    return fill(buffer, length);
}
int text3(const char*, const char*, const char*, char* buffer, int* length) {
    return fill(buffer, length);
}
int none() {
    return 0;
}
int number(int* n) {
    if (n != nullptr) {
        *n = 0;
    }
    return 0;
}
int name(const char*) {
    return 0;
}
int pin(const char*, int) {
    return 0;
}
int changePin(const char*, int, const char*, int) {
    return 0;
}
int delTempKey(const char*, int, const char*) {
    return 0;
}
int writePkcs7(const char*, const char*, const char*) {
    return 0;
}
int createPkcs10Ex(const char*, const char*, char* buffer, int* length) {
    return fill(buffer, length);
}
int usbKeySign(const char*, const char*, const char*, int, const char*, const char*, const char*,
               char* buffer, int* length) {
    return fill(buffer, length);
}
int usbKeySignFileExt(const char*, const char*, const char*, int, const char*, const char*,
                      char* buffer, int* length) {
    return fill(buffer, length);
}
// A result of maxLength bytes (at most kLongestContent), so that long results
// go out in pieces; the bytes follow the offset.
int signFileContent(const char*, int maxLength, int fileOffset, char* buffer, int* length) {
    constexpr int kLongestContent = 3'000'001;
    if (length == nullptr || maxLength <= 0) {
        return fill(buffer, length);
    }
    const int needed = std::min(maxLength, kLongestContent) + 1;
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return buffer == nullptr ? 0 : kBufferTooSmall;
    }
    for (int i = 0; i + 1 < needed; ++i) {
        buffer[i] = static_cast<char>('A' + (static_cast<unsigned>(fileOffset) + i) % 26);
    }
    buffer[needed - 1] = '\0';
    *length = needed - 1;
    return 0;
}

}  // namespace

const frontend::ApiFunctionTable& stubApi() noexcept {
    static const frontend::ApiFunctionTable table = [] {
        frontend::ApiFunctionTable t;
        t.GetDevSN = text;
        t.GetDriverVer = text;
        t.GMGetCertDN = text;
        t.GMGetPubkeyInfo = text1;
        t.GMGetPubkeyInfoC = text3;
        t.GetPublicKeyC = text;
        t.GMGetAdminKeyInfo = text;
        t.GMDelTempKey = delTempKey;
        t.CustInitCard = pin;
        t.ChangePIN = changePin;
        t.GetCharset = text;
        t.SetCharset = name;
        t.GetDevLanguageList = text;
        t.SetDevLanguage = name;
        t.SetWarningTips = name;
        t.GMUsbKeySign = usbKeySign;
        t.GMCreatePKCS10 = text1;
        t.GMCreatePKCS10Ex = createPkcs10Ex;
        t.GMWritePKCS7_Enc = writePkcs7;
        t.GMGetTemKey = text;
        t.GMBankGetRand = text;
        t.GMGetPKCS7 = text;
        t.GMJudgeAndDelOlderDN = number;
        t.SetAdminKey = none;
        t.GMORVAVerify = none;
        t.GMORVAGetXMLMsg = none;
        t.GMORVAGetKeyMsg = none;
        t.GMBankInitSec = none;
        t.ChooseFileExt = text;
        t.FileToTokenExt = text1;
        t.GMUsbKeySignFileExt = usbKeySignFileExt;
        t.GetSignFileContent = signFileContent;
        t.ChooseFile = text;
        t.GetPublicKeyNum = number;
        t.DelExpiredCert = none;
        t.GetCSPInfo = text;
        t.PrtRandomPIN = none;
        t.RegisterCert = none;
        t.UnRegisterCert = none;
        t.GetCertType = none;
        return t;
    }();
    return table;
}

}  // namespace orva::native_host::fuzz
