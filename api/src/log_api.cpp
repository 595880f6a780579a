#include "log_api.h"

#include "maker/export_names.h"
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
#define ORVA_BIND_LOG(name)                                                                 \
    if (auto entry = reinterpret_cast<decltype(&::name)>(GetProcAddress(scrivel, #name))) { \
        logEntries.name = entry;                                                            \
    } else {                                                                                \
        logEntries.name = ignore##name;                                                     \
    }
    ORVA_SCRIVEL_NAMES(ORVA_BIND_LOG)
#undef ORVA_BIND_LOG
}

void resetLogApi() noexcept {
    logEntries = LogApi{ignoreLogW, ignoreLogA};
}

}  // namespace orva::api
