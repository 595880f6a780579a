// Exports whose work is not built yet. Each answers -300 until it is; the
// names are exported already so that the front ends bind all 40. Building one
// moves it to its own file and takes it off the pending list of api_test.

#include "orva_api.h"
#include "orva_result_codes.h"

namespace {

constexpr int kPending = orva::kOperationFailed;

}  // namespace

// Certificate and public-key queries.
extern "C" int QZAPI_GMGetCertDN(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMGetPubkeyInfo(const char*, char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMGetPubkeyInfoC(const char*, const char*, const char*, char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GetPublicKeyC(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMGetAdminKeyInfo(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMGetTemKey(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMBankGetRand(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMGetPKCS7(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GetPublicKeyNum(int*) {
    return kPending;
}
extern "C" int QZAPI_GetCertType(void) {
    return kPending;
}

// Key deletion and certificate registration.
extern "C" int QZAPI_GMDelTempKey(const char*, int, const char*) {
    return kPending;
}
extern "C" int QZAPI_GMJudgeAndDelOlderDN(int*) {
    return kPending;
}
extern "C" int QZAPI_DelExpiredCert(void) {
    return kPending;
}
extern "C" int QZAPI_RegisterCert(void) {
    return kPending;
}
extern "C" int QZAPI_UnRegisterCert(void) {
    return kPending;
}
