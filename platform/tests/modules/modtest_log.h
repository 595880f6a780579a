#pragma once

// What the test modules' DllMain calls see, appended one line at a time to the
// file named by $ORVA_MODTEST_LOG, which module_test reads back.

#include <cstdio>
#include <cstdlib>

inline void modtestLog(const char* event, const char* detail = nullptr) {
    const char* path = std::getenv("ORVA_MODTEST_LOG");
    if (!path) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, detail ? "%s %s\n" : "%s\n", event, detail);
        std::fclose(file);
    }
}
