#include "bound_function_table.h"

namespace orva::api {

namespace {

BoundFunctionTable table;

// Stores first, then tests: a name not found leaves a null entry behind.
template <class Entry>
[[nodiscard]] bool resolveEntry(HMODULE module, const char* name, Entry& entry) noexcept {
    entry = reinterpret_cast<Entry>(GetProcAddress(module, name));
    return entry != nullptr;
}

#define ORVA_COUNT_SET(name) count += api.name != nullptr ? 1 : 0;

std::size_t countSet(const DravikApi& api) noexcept {
    std::size_t count = 0;
    ORVA_DRAVIK_NAMES(ORVA_COUNT_SET, ORVA_COUNT_SET)
    return count;
}

std::size_t countSet(const QZAlgLibApi& api) noexcept {
    std::size_t count = 0;
    ORVA_QZALGLIB_NAMES(ORVA_COUNT_SET, ORVA_COUNT_SET)
    return count;
}

std::size_t countSet(const PelnorApi& api) noexcept {
    std::size_t count = 0;
    ORVA_PELNOR_NAMES(ORVA_COUNT_SET, ORVA_COUNT_SET)
    return count;
}

#undef ORVA_COUNT_SET

}  // namespace

BoundFunctionTable& boundFunctions() noexcept {
    return table;
}

std::size_t boundNameCount() noexcept {
    return maker::kDravikNames + maker::kQZAlgLibNames + maker::kPelnorNames;
}

std::size_t boundEntryCount() noexcept {
    return countSet(table.dravik) + countSet(table.qzAlgLib) + countSet(table.pelnor);
}

#define ORVA_RESOLVE(name)                        \
    if (!resolveEntry(module, #name, api.name)) { \
        return false;                             \
    }

bool resolveDravik() noexcept {
    const HMODULE module = table.dravikModule;
    DravikApi& api = table.dravik;
    ORVA_DRAVIK_NAMES(ORVA_RESOLVE, ORVA_RESOLVE)
    return true;
}

bool resolveQZAlgLib() noexcept {
    const HMODULE module = table.qzAlgLibModule;
    QZAlgLibApi& api = table.qzAlgLib;
    ORVA_QZALGLIB_NAMES(ORVA_RESOLVE, ORVA_RESOLVE)
    return true;
}

bool resolvePelnor() noexcept {
    const HMODULE module = table.pelnorModule;
    PelnorApi& api = table.pelnor;
    ORVA_PELNOR_NAMES(ORVA_RESOLVE, ORVA_RESOLVE)
    return true;
}

#undef ORVA_RESOLVE

void clearBoundEntries() noexcept {
    table.dravik = DravikApi{};
    table.qzAlgLib = QZAlgLibApi{};
    table.pelnor = PelnorApi{};
}

}  // namespace orva::api
