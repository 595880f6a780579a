// Scrivel's entry points. Nothing reads the arguments, so no format can fault.

#include "maker/scrivel.h"

extern "C" void LogA(const char* /*format*/, ...) {}

extern "C" void LogW(const char16_t* /*format*/, ...) {}
