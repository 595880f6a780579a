#pragma once

// The maker's auxiliary library, Pelnor: registration of a key's certificates
// with the system's certificate store. Each function returns 0 on success.

#include <stdint.h>

#include "orva/export.h"

#define AUX_OK 0x00000000u
#define AUX_E_NOT_FOUND 0x80000002u      // no registration of that certificate
#define AUX_E_WRITE_FAILED 0x8000001Du   // the registration could not be recorded
#define AUX_E_INTERNAL 0x8000001Fu       // failed inside
#define AUX_E_NOT_SUPPORTED 0x80000032u  // the function is not supported
#define AUX_E_BAD_ARGUMENT 0x80000057u   // an argument null or out of range

// Registers a DER certificate as belonging to the named key container of a
// provider, with its keySpec; registering a certificate again replaces its
// entry. reserved (260 bytes, or null) is neither read nor written.
ORVA_API_ENTRY uint32_t AuxRegUserCert(const uint8_t* der, uint32_t len, const char* provider,
                                       const char* containerName, uint32_t keySpec, void* reserved);

// Removes a certificate's registration.
ORVA_API_ENTRY uint32_t AuxUnRegUserCert(const uint8_t* der, uint32_t len);
