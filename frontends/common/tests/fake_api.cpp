// A stand-in token API library for the host's tests: it exports the 40 names,
// answers what a script file says and records every call's arguments, so a
// test sees exactly what the host passed.
//
// $ORVA_FAKE_API_DIR/script.json holds, per export name without "QZAPI_":
//   "code"       the result of a call with a buffer, or of a call without one (0)
//   "text"       the output text; or "length": N bytes of fakeText(N)
//   "sizeCode"   the result of a size query (a null buffer), 0 by default
//   "sizeLength" the size a size query reports, instead of the text's + 1
//   "count"      what a number export writes
// Each call appends a line to $ORVA_FAKE_API_DIR/calls.log:
//   {"fn":"GMUsbKeySign","args":[...]} with texts as hex (null for a null
//   pointer), ints as numbers, an output buffer as true/false and an in/out
//   length as its value on entry (null for a null pointer).

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_api_text.h"
#include "orva/hex.h"
#include "orva/json_ptr.h"
#include "orva_api.h"

namespace {

using orva::JsonPtr;

constexpr int kBufferTooSmall = -303;
constexpr int kFailed = -300;

std::string folder() {
    const char* dir = std::getenv("ORVA_FAKE_API_DIR");
    return dir != nullptr ? dir : "";
}

struct Entry {
    int code = 0;
    int sizeCode = 0;
    std::optional<int> sizeLength;
    int count = 0;
    std::string text;
};

Entry entryFor(const char* name) {
    Entry entry;
    entry.text = name;
    std::ifstream in(folder() + "/script.json", std::ios::binary);
    if (!in) {
        return entry;
    }
    std::stringstream content;
    content << in.rdbuf();
    const std::string script = content.str();
    const JsonPtr root(cJSON_ParseWithLength(script.data(), script.size()));
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root.get(), name);
    if (item == nullptr) {
        return entry;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "code"); cJSON_IsNumber(v)) {
        entry.code = v->valueint;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "sizeCode"); cJSON_IsNumber(v)) {
        entry.sizeCode = v->valueint;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "sizeLength"); cJSON_IsNumber(v)) {
        entry.sizeLength = v->valueint;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "count"); cJSON_IsNumber(v)) {
        entry.count = v->valueint;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "text"); cJSON_IsString(v)) {
        entry.text = v->valuestring;
    }
    if (const cJSON* v = cJSON_GetObjectItemCaseSensitive(item, "length"); cJSON_IsNumber(v)) {
        entry.text = orva::fake_api::fakeText(static_cast<std::size_t>(v->valuedouble));
    }
    return entry;
}

// One call's arguments, as they are added.
class CallLog {
  public:
    explicit CallLog(const char* name) : line_(cJSON_CreateObject()), args_(cJSON_CreateArray()) {
        cJSON_AddStringToObject(line_.get(), "fn", name);
    }
    ~CallLog() {
        cJSON_AddItemToObject(line_.get(), "args", args_.release());
        char* text = cJSON_PrintUnformatted(line_.get());
        if (text != nullptr) {
            if (FILE* file = std::fopen((folder() + "/calls.log").c_str(), "ab")) {
                std::fprintf(file, "%s\n", text);
                std::fclose(file);
            }
            cJSON_free(text);
        }
    }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    CallLog& text(const char* value) { return bytes(value, value ? std::strlen(value) : 0); }
    CallLog& bytes(const char* value, std::size_t size) {
        if (value == nullptr) {
            cJSON_AddItemToArray(args_.get(), cJSON_CreateNull());
            return *this;
        }
        const std::string hex = orva::toHex({reinterpret_cast<const std::uint8_t*>(value), size});
        cJSON_AddItemToArray(args_.get(), cJSON_CreateString(hex.c_str()));
        return *this;
    }
    CallLog& number(int value) {
        cJSON_AddItemToArray(args_.get(), cJSON_CreateNumber(value));
        return *this;
    }
    CallLog& buffer(const char* value) {
        cJSON_AddItemToArray(args_.get(), cJSON_CreateBool(value != nullptr));
        return *this;
    }
    CallLog& length(const int* value) {
        cJSON_AddItemToArray(args_.get(), value ? cJSON_CreateNumber(*value) : cJSON_CreateNull());
        return *this;
    }

  private:
    JsonPtr line_;
    JsonPtr args_;
};

// The library's buffer rules over the scripted entry.
int answerText(const char* name, char* buffer, int* length) {
    const Entry entry = entryFor(name);
    if (length == nullptr) {
        return entry.code;
    }
    const int needed = static_cast<int>(entry.text.size()) + 1;
    if (buffer == nullptr) {
        *length = entry.sizeLength.value_or(needed);
        return entry.sizeCode;
    }
    if (entry.code != 0) {
        return entry.code;
    }
    if (*length < needed) {
        *length = needed;
        return kBufferTooSmall;
    }
    std::memcpy(buffer, entry.text.c_str(), static_cast<std::size_t>(needed));
    *length = needed - 1;
    return 0;
}

int answerCode(const char* name) {
    return entryFor(name).code;
}

int answerNumber(const char* name, int* n) {
    const Entry entry = entryFor(name);
    if (entry.code == 0 && n != nullptr) {
        *n = entry.count;
    }
    return entry.code;
}

template <class Body>
int guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return kFailed;
    }
}

}  // namespace

#define FAKE_TEXT_EXPORT(name)                               \
    extern "C" int QZAPI_##name(char* buffer, int* length) { \
        return guarded([&] {                                 \
            CallLog(#name).buffer(buffer).length(length);    \
            return answerText(#name, buffer, length);        \
        });                                                  \
    }
#define FAKE_CODE_EXPORT(name)          \
    extern "C" int QZAPI_##name(void) { \
        return guarded([&] {            \
            CallLog log(#name);         \
            return answerCode(#name);   \
        });                             \
    }

FAKE_TEXT_EXPORT(GetDevSN)
FAKE_TEXT_EXPORT(GetDriverVer)
FAKE_TEXT_EXPORT(GMGetCertDN)
FAKE_TEXT_EXPORT(GetPublicKeyC)
FAKE_TEXT_EXPORT(GMGetAdminKeyInfo)
FAKE_TEXT_EXPORT(GetCharset)
FAKE_TEXT_EXPORT(GetDevLanguageList)
FAKE_TEXT_EXPORT(GMGetTemKey)
FAKE_TEXT_EXPORT(GMBankGetRand)
FAKE_TEXT_EXPORT(GMGetPKCS7)
FAKE_TEXT_EXPORT(ChooseFileExt)
FAKE_TEXT_EXPORT(ChooseFile)
FAKE_TEXT_EXPORT(GetCSPInfo)

FAKE_CODE_EXPORT(SetAdminKey)
FAKE_CODE_EXPORT(GMORVAVerify)
FAKE_CODE_EXPORT(GMORVAGetXMLMsg)
FAKE_CODE_EXPORT(GMORVAGetKeyMsg)
FAKE_CODE_EXPORT(GMBankInitSec)
FAKE_CODE_EXPORT(DelExpiredCert)
FAKE_CODE_EXPORT(PrtRandomPIN)
FAKE_CODE_EXPORT(RegisterCert)
FAKE_CODE_EXPORT(UnRegisterCert)
FAKE_CODE_EXPORT(GetCertType)

extern "C" int QZAPI_GMGetPubkeyInfo(const char* filter, char* buffer, int* length) {
    return guarded([&] {
        CallLog("GMGetPubkeyInfo").text(filter).buffer(buffer).length(length);
        return answerText("GMGetPubkeyInfo", buffer, length);
    });
}

extern "C" int QZAPI_GMGetPubkeyInfoC(const char* keyType, const char* dnOrId,
                                      const char* base64ServerRandom, char* buffer, int* length) {
    return guarded([&] {
        CallLog("GMGetPubkeyInfoC")
            .text(keyType)
            .text(dnOrId)
            .text(base64ServerRandom)
            .buffer(buffer)
            .length(length);
        return answerText("GMGetPubkeyInfoC", buffer, length);
    });
}

extern "C" int QZAPI_GMDelTempKey(const char* certDn, int certDnLength, const char* publicKeyId) {
    return guarded([&] {
        CallLog("GMDelTempKey").text(certDn).number(certDnLength).text(publicKeyId);
        return answerCode("GMDelTempKey");
    });
}

extern "C" int QZAPI_CustInitCard(const char* pin, int pinLength) {
    return guarded([&] {
        CallLog("CustInitCard").text(pin).number(pinLength);
        return answerCode("CustInitCard");
    });
}

extern "C" int QZAPI_ChangePIN(const char* oldPin, int oldPinLength, const char* newPin,
                               int newPinLength) {
    return guarded([&] {
        CallLog("ChangePIN").text(oldPin).number(oldPinLength).text(newPin).number(newPinLength);
        return answerCode("ChangePIN");
    });
}

extern "C" int QZAPI_SetCharset(const char* charset) {
    return guarded([&] {
        CallLog("SetCharset").text(charset);
        return answerCode("SetCharset");
    });
}

extern "C" int QZAPI_SetDevLanguage(const char* language) {
    return guarded([&] {
        CallLog("SetDevLanguage").text(language);
        return answerCode("SetDevLanguage");
    });
}

extern "C" int QZAPI_SetWarningTips(const char* warningText) {
    return guarded([&] {
        CallLog("SetWarningTips").text(warningText);
        return answerCode("SetWarningTips");
    });
}

extern "C" int QZAPI_GMUsbKeySign(const char* signerDn, const char* hashName,
                                  const char* xmlMessage, int xmlMessageLength,
                                  const char* signFilePath, const char* keyMessage,
                                  const char* p7FilePath, char* buffer, int* length) {
    return guarded([&] {
        CallLog("GMUsbKeySign")
            .text(signerDn)
            .text(hashName)
            .text(xmlMessage)
            .number(xmlMessageLength)
            .text(signFilePath)
            .text(keyMessage)
            .text(p7FilePath)
            .buffer(buffer)
            .length(length);
        if (length == nullptr) {
            return answerCode("GMUsbKeySign");
        }
        return answerText("GMUsbKeySign", buffer, length);
    });
}

extern "C" int QZAPI_GMCreatePKCS10(const char* description, char* buffer, int* length) {
    return guarded([&] {
        CallLog("GMCreatePKCS10").text(description).buffer(buffer).length(length);
        return answerText("GMCreatePKCS10", buffer, length);
    });
}

extern "C" int QZAPI_GMCreatePKCS10Ex(const char* pin, const char* description, char* buffer,
                                      int* length) {
    return guarded([&] {
        CallLog("GMCreatePKCS10Ex").text(pin).text(description).buffer(buffer).length(length);
        return answerText("GMCreatePKCS10Ex", buffer, length);
    });
}

extern "C" int QZAPI_GMWritePKCS7_Enc(const char* signCertP7, const char* encData,
                                      const char* serverRandom) {
    return guarded([&] {
        CallLog("GMWritePKCS7_Enc").text(signCertP7).text(encData).text(serverRandom);
        return answerCode("GMWritePKCS7_Enc");
    });
}

extern "C" int QZAPI_GMJudgeAndDelOlderDN(int* unused) {
    return guarded([&] {
        CallLog("GMJudgeAndDelOlderDN").length(unused);
        return answerCode("GMJudgeAndDelOlderDN");
    });
}

extern "C" int QZAPI_FileToTokenExt(const char* path, char* buffer, int* length) {
    return guarded([&] {
        CallLog("FileToTokenExt").text(path).buffer(buffer).length(length);
        return answerText("FileToTokenExt", buffer, length);
    });
}

extern "C" int QZAPI_GMUsbKeySignFileExt(const char* signerDn, const char* hashName,
                                         const char* xmlMessage, int xmlMessageLength,
                                         const char* keyMessage, const char* chosenFileToken,
                                         char* buffer, int* length) {
    return guarded([&] {
        CallLog("GMUsbKeySignFileExt")
            .text(signerDn)
            .text(hashName)
            .text(xmlMessage)
            .number(xmlMessageLength)
            .text(keyMessage)
            .text(chosenFileToken)
            .buffer(buffer)
            .length(length);
        return answerText("GMUsbKeySignFileExt", buffer, length);
    });
}

extern "C" int QZAPI_GetSignFileContent(const char* signedFileToken, int maxLength, int fileOffset,
                                        char* buffer, int* length) {
    return guarded([&] {
        CallLog("GetSignFileContent")
            .text(signedFileToken)
            .number(maxLength)
            .number(fileOffset)
            .buffer(buffer)
            .length(length);
        return answerText("GetSignFileContent", buffer, length);
    });
}

extern "C" int QZAPI_GetPublicKeyNum(int* count) {
    return guarded([&] {
        CallLog("GetPublicKeyNum").length(count);
        return answerNumber("GetPublicKeyNum", count);
    });
}
