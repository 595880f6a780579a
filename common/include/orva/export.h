#pragma once

// Marks an entry point that a shared library shows to its loader. Everything
// else is hidden, so a missing export is a real missing export.
#define ORVA_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define ORVA_EXTERN_C extern "C"
#else
#define ORVA_EXTERN_C
#endif

// An extern "C" entry point of this library.
#define ORVA_API_ENTRY ORVA_EXTERN_C ORVA_EXPORT
