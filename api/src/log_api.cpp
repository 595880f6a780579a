#include "log_api.h"

#include "win32/module.h"

namespace orva::api {

namespace {

void ignoreLogW(const char16_t* /*format*/, ...) {}
void ignoreLogA(const char* /*format*/, ...) {}

LogApi logEntries{ignoreLogW, ignoreLogA};

}  // namespace

const LogApi& logApi() noexcept {
    return logEntries;
}

void bindLogApi(HMODULE scrivel) noexcept {
    auto logW = reinterpret_cast<decltype(&::LogW)>(GetProcAddress(scrivel, "LogW"));
    logEntries.LogW = logW ? logW : ignoreLogW;
    auto logA = reinterpret_cast<decltype(&::LogA)>(GetProcAddress(scrivel, "LogA"));
    logEntries.LogA = logA ? logA : ignoreLogA;
}

void resetLogApi() noexcept {
    logEntries = LogApi{ignoreLogW, ignoreLogA};
}

}  // namespace orva::api
