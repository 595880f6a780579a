// The six export names that have no function: one stub serves them all.

#include "orva_api.h"
#include "orva_result_codes.h"

// Reads nothing, changes nothing.
extern "C" int orvaApiNotProvided(void) {
    return orva::kOperationFailed.number();
}

#define ORVA_NOT_PROVIDED(name) \
    extern "C" int name(void) __attribute__((alias("orvaApiNotProvided")));

ORVA_NOT_PROVIDED(QZAPI_SetAdminKey)
ORVA_NOT_PROVIDED(QZAPI_GMBankInitSec)
ORVA_NOT_PROVIDED(QZAPI_GMORVAGetKeyMsg)
ORVA_NOT_PROVIDED(QZAPI_GMORVAGetXMLMsg)
ORVA_NOT_PROVIDED(QZAPI_GMORVAVerify)
ORVA_NOT_PROVIDED(QZAPI_PrtRandomPIN)
