// Linked against modtest_base; exports only its own function and has no DllMain.

#include "orva/export.h"

extern "C" int modtest_base_value(void);

ORVA_API_ENTRY int modtest_dep_value(void) {
    return modtest_base_value() + 1;
}
