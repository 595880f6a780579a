#pragma once

// The maker's logging library, Scrivel: printf-style log lines. The software key
// keeps no maker log, so both calls accept anything and do nothing.

#include "orva/export.h"

#ifndef __cplusplus
#include <uchar.h>
#endif

ORVA_API_ENTRY void LogA(const char* format, ...);
ORVA_API_ENTRY void LogW(const char16_t* format, ...);
