// Exports whose work is not built yet. Each answers -300 until it is; the
// names are exported already so that the front ends bind all 40. Building one
// moves it to its own file and takes it off the pending list of api_test.

#include "orva_api.h"
#include "orva_result_codes.h"

namespace {

constexpr int kPending = orva::kOperationFailed;

}  // namespace

// Certificate installation.
extern "C" int QZAPI_GMWritePKCS7_Enc(const char*, const char*, const char*) {
    return kPending;
}
