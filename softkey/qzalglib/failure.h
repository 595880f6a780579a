#pragma once

// How QZAlgLib's internals report a failed call: they throw the result code the
// export returns, and the export's guard turns it into that return value.

#include <cstdint>

#include "maker/qzalglib.h"

namespace orva::qzalg {

// A failed call and the QZA_E_* result it ends in.
struct Failure {
    std::int32_t code;
};

[[noreturn]] inline void fail(std::int32_t code) {
    throw Failure{code};
}

// An argument the caller got wrong.
inline void require(bool ok) {
    if (!ok) {
        fail(QZA_E_BAD_ARGUMENT);
    }
}

// OpenSSL's result: 1 (or a non-null object) on success.
inline void sslCheck(bool ok) {
    if (!ok) {
        fail(QZA_E_FAILED);
    }
}

}  // namespace orva::qzalg
