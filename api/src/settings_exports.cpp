// Exports that keep the settings handed to the key with every signature: the
// charset, the device language and the warning text.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bound_function_table.h"
#include "device_session.h"
#include "export_guard.h"
#include "orva_api.h"
#include "process_state.h"
#include "sized_output.h"

namespace orva::api {

namespace {

// The names SetCharset accepts, not the current choice.
constexpr std::string_view kCharsetList = "GBK||UTF-8||GB18030";

struct CharsetName {
    std::string_view name;
    std::int32_t charset;
};
// In the order they are compared.
constexpr std::array<CharsetName, 3> kCharsetNames{{
    {"UTF-8", kCharsetUtf8},
    {"GBK", kCharsetGbk},
    {"GB18030", kCharsetGb18030},
}};

constexpr std::uint32_t kLanguageSlots = 16;
// Only the first codes of the key's list count, as many as the table has names.
constexpr std::size_t kLanguagesConsidered = kLanguageTable.size();

// Sets the key's display language: 80 2A 9E EE 04 0A 00 01 <code>.
constexpr std::array<std::uint8_t, 8> kSetLanguageCommand = {0x80, 0x2A, 0x9E, 0xEE,
                                                             0x04, 0x0A, 0x00, 0x01};
constexpr std::size_t kResponseRoom = 2055;

[[nodiscard]] bool isEmpty(const char* text) noexcept {
    return !text || !*text;
}

ApiErrorCode getCharset(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        text = kCharsetList;
        return kSuccess;
    });
}

ApiErrorCode setCharset(const char* charset) {
    if (isEmpty(charset)) {
        return kInvalidParameter;
    }
    for (const CharsetName& entry : kCharsetNames) {
        if (equalsIgnoringCase(charset, entry.name)) {
            processState().apiCharset = entry.charset;
            return kSuccess;
        }
    }
    return kInvalidParameter;
}

ApiErrorCode getDevLanguageList(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        std::array<std::uint8_t, kLanguageSlots> codes{};
        std::uint32_t count = kLanguageSlots;
        if (const ApiErrorCode code =
                session.call(&DravikApi::QZGetLanguageList, codes.data(), &count)
                    .checked(kGetLanguageListError);
            code != kSuccess) {
            return code;
        }
        // Unknown codes are skipped; the text may stay empty.
        const std::size_t considered = std::min<std::size_t>(count, kLanguagesConsidered);
        for (std::size_t i = 0; i < considered; ++i) {
            const std::string_view name = languageName(codes[i]);
            if (name.empty()) {
                continue;
            }
            if (!text.empty()) {
                text += "||";
            }
            text += name;
        }
        return kSuccess;
    });
}

ApiErrorCode setDevLanguage(const char* language) {
    if (isEmpty(language)) {
        return kInvalidParameter;
    }
    // The key is opened before the name is looked at.
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    const std::optional<std::int32_t> code = languageCode(language);
    if (!code) {
        return kInvalidParameter;
    }
    // Kept even when the key refuses: every later signature hands it over.
    processState().deviceLanguage = *code;
    std::array<std::uint8_t, kSetLanguageCommand.size() + 1> command{};
    std::copy(kSetLanguageCommand.begin(), kSetLanguageCommand.end(), command.begin());
    command.back() = static_cast<std::uint8_t>(*code);
    std::array<std::uint8_t, kResponseRoom> response{};
    std::uint32_t responseLength = 0;
    // The card answers its own status word: done is DRV_SW_OK, not DRV_OK.
    const bool done =
        session
            .call(&DravikApi::NDTransmit, command.data(),
                  static_cast<std::uint32_t>(command.size()), response.data(), &responseLength)
            .is(DRV_SW_OK);
    // The session closes on return.
    return done ? kSuccess : kOperationFailed;
}

ApiErrorCode setWarningTips(const char* warningText) {
    if (!warningText) {
        return kInvalidParameter;
    }
    // Its length is kept as a signed 32-bit count.
    const std::size_t size = std::strlen(warningText);
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return kInvalidParameter;
    }
    WarningTips& tips = processState().warningTips;
    // The old text goes first: a failed allocation leaves the setting empty.
    tips.text.reset();
    tips.length = 0;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[size + 1]);
    if (!copy) {
        return kMallocFailed;
    }
    std::memcpy(copy.get(), warningText, size + 1);
    tips.text = std::move(copy);
    tips.length = static_cast<std::int32_t>(size);
    return kSuccess;
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GetCharset(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getCharset(buffer, length); });
}

extern "C" int QZAPI_SetCharset(const char* charset) {
    return guardedExport([&] { return orva::api::setCharset(charset); });
}

extern "C" int QZAPI_GetDevLanguageList(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getDevLanguageList(buffer, length); });
}

extern "C" int QZAPI_SetDevLanguage(const char* language) {
    return guardedExport([&] { return orva::api::setDevLanguage(language); });
}

extern "C" int QZAPI_SetWarningTips(const char* warningText) {
    return guardedExport([&] { return orva::api::setWarningTips(warningText); });
}
