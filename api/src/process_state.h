#pragma once

// What the library keeps between calls: the settings handed to the key with
// every transaction or file signature, and the signer's common name. One
// request at a time per process, so nothing here is locked.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace orva::api {

// ApiCharset values.
inline constexpr std::int32_t kCharsetGbk = 1;
inline constexpr std::int32_t kCharsetUtf8 = 2;
inline constexpr std::int32_t kCharsetGb18030 = 3;

// The key's language codes are a name's position in this table plus one.
inline constexpr std::array<std::string_view, 9> kLanguageTable = {
    "zh_CN", "en_US", "zh_TW", "ja_JP", "ru_RU", "fr_FR", "de_DE", "id_ID", "kk_KZ",
};

// The code of a language name compared without regard to ASCII case, if any.
[[nodiscard]] std::optional<std::int32_t> languageCode(std::string_view name) noexcept;
// The name of a code 1..9, empty for any other code.
std::string_view languageName(std::int32_t code) noexcept;

// The warning text: a heap copy with its NUL, or none (null, length 0) until set.
struct WarningTips {
    std::unique_ptr<char[]> text;
    std::int32_t length = 0;
};

inline constexpr std::size_t kSignerCnSize = 256;

struct ProcessState {
    std::int32_t apiCharset = kCharsetGbk;
    std::int32_t deviceLanguage = 1;
    WarningTips warningTips;
    // The common name of the certificate chosen last for signing, NUL-terminated.
    std::array<char, kSignerCnSize> signerCn{};
};

// Made at attach (at first use outside a loaded library) and ended at detach
// alone: no exit-time destructor frees the warning text a late detach frees.
ProcessState& processState() noexcept;
// Attach: false without memory.
[[nodiscard]] bool makeProcessState() noexcept;
// Detach: frees the warning text and forgets SignerCn and the settings; the
// next use starts from the initial values, as a fresh load does.
void endProcessState() noexcept;

// ASCII case folding, for names the library compares without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept;

}  // namespace orva::api
