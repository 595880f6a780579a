#pragma once

// The algorithms qzcore3 offers, as a PP_ENUMALGS_EX walk lists them.

#include <vector>

#include "store.h"
#include "win32/cryptoapi.h"

namespace orva::qzcore3 {

// The store's csp-algorithms.json when a test has put one there, e.g.
//   [{"id": 9216, "default": 2048, "min": 512, "max": 4096, "name": "RSA_SIGN"}]
// (a walk of a module offering other lengths, or many algorithms); else the
// module's own: RSA signature and exchange, 1,024 to 4,096 bits, and the six
// hashes.
std::vector<PROV_ENUMALGS_EX> algorithmRecords(const softkey::Store& store);

}  // namespace orva::qzcore3
