// Exports whose work is not built yet. Each answers -300 until it is; the
// names are exported already so that the front ends bind all 40. Building one
// moves it to its own file and takes it off the pending list of api_test.

#include "orva_api.h"
#include "orva_result_codes.h"

namespace {

constexpr int kPending = orva::kOperationFailed;

}  // namespace

// File tokens and file signing.
extern "C" int QZAPI_ChooseFileExt(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_ChooseFile(char*, int*) {
    return kPending;
}
extern "C" int QZAPI_FileToTokenExt(const char*, char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GMUsbKeySignFileExt(const char*, const char*, const char*, int, const char*,
                                         const char*, char*, int*) {
    return kPending;
}
extern "C" int QZAPI_GetSignFileContent(const char*, int, int, char*, int*) {
    return kPending;
}

// Certificate installation.
extern "C" int QZAPI_GMWritePKCS7_Enc(const char*, const char*, const char*) {
    return kPending;
}
