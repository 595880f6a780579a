// A module without DllMain.

#include "orva/export.h"

ORVA_API_ENTRY int modtest_plain_value(void) {
    return 42;
}
