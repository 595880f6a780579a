#pragma once

// A list of maker/export_names.h as (name, called) pairs, in lookup order: what
// the tests compare with the export lists they state themselves.

#include <string>
#include <utility>
#include <vector>

#include "maker/export_names.h"

#define ORVA_TEST_CALLED_NAME(name) {#name, true},
#define ORVA_TEST_BOUND_NAME(name) {#name, false},
#define ORVA_TEST_MAKER_LIST(LIST)                        \
    std::vector<std::pair<std::string, bool>> {           \
        LIST(ORVA_TEST_CALLED_NAME, ORVA_TEST_BOUND_NAME) \
    }
