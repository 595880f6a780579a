#include "process_state.h"

#include <algorithm>

#include "detach_owned.h"

namespace orva::api {

namespace {

constinit DetachOwned<ProcessState> state;

char foldAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

ProcessState& processState() noexcept {
    return state.get();
}

bool makeProcessState() noexcept {
    return state.make();
}

void endProcessState() noexcept {
    state.end();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return foldAscii(x) == foldAscii(y);
           });
}

std::optional<std::int32_t> languageCode(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kLanguageTable.size(); ++i) {
        if (equalsIgnoringCase(name, kLanguageTable[i])) {
            return static_cast<std::int32_t>(i + 1);
        }
    }
    return std::nullopt;
}

std::string_view languageName(std::int32_t code) noexcept {
    if (code < 1 || static_cast<std::size_t>(code) > kLanguageTable.size()) {
        return {};
    }
    return kLanguageTable[static_cast<std::size_t>(code - 1)];
}

}  // namespace orva::api
