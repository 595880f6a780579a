#pragma once

// What the library keeps for file tokens between calls: the record of the file
// chosen or named last, the record of the signature file written last, the key
// of named-file tokens and the count of failed opens. One request at a time
// per process, so nothing here is locked.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orva::api {

inline constexpr std::size_t kFileTokenDigits = 64;
inline constexpr std::size_t kFileTokenSaltSize = 32;
inline constexpr std::size_t kFileTokenKeySize = 32;
// A record holds a path of at most this many bytes (260 with its NUL).
inline constexpr std::size_t kFileTokenPathLimit = 259;
// QZAPI_FileToTokenExt refuses for good after this many failed opens.
inline constexpr unsigned kFailedOpenLimit = 9;

using FileTokenSalt = std::array<std::uint8_t, kFileTokenSaltSize>;

// How a token's digest is made: plain for files chosen through the dialog and
// for signature files, encrypted with FileTokenKey for files a page names.
enum class FileTokenMode : std::int32_t { chosen = 0, named = 1 };

// FileTokenRecord: a token handed out and what it was made from. A record
// that exists is valid; clearing one removes it.
struct FileTokenRecord {
    std::string tokenText;  // the base64 FileToken
    FileTokenSalt salt{};
    std::string path;   // as given (ANSI); for the signed file, the signature file's
    std::string token;  // the 64 hex digits
    FileTokenMode mode = FileTokenMode::chosen;
};

// FileTokenKey: drawn once, at the first named-file token; wiped at detach.
struct FileTokenKey {
    std::array<std::uint8_t, kFileTokenKeySize> bytes{};
    bool drawn = false;

    FileTokenKey() = default;
    ~FileTokenKey();
    FileTokenKey(const FileTokenKey&) = delete;
    FileTokenKey& operator=(const FileTokenKey&) = delete;
};

struct FileTokenState {
    std::optional<FileTokenRecord> chosenFile;
    std::optional<FileTokenRecord> signedFile;
    FileTokenKey key;
    unsigned failedOpens = 0;  // never reset
};

// Made at attach (at first use outside a loaded library) and ended, the key
// wiped, at detach alone.
FileTokenState& fileTokenState() noexcept;
// Attach: false without memory.
[[nodiscard]] bool makeFileTokenState() noexcept;
void endFileTokenState() noexcept;

}  // namespace orva::api
