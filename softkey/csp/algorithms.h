#pragma once

// The algorithms qzcore3 offers, as a PP_ENUMALGS_EX walk lists them.

#include <span>

#include "win32/cryptoapi.h"

namespace orva::qzcore3 {

std::span<const PROV_ENUMALGS_EX> algorithmRecords() noexcept;

}  // namespace orva::qzcore3
