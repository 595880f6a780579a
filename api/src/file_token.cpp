#include "file_token.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>

#include "base64_codec.h"
#include "bound_function_table.h"
#include "byte_buffer.h"
#include "code_page_text.h"
#include "orva/hex.h"
#include "regular_file.h"

namespace orva::api {

namespace {

constexpr std::size_t kDigestSize = 32;
// The file is digested in blocks of this size: memory stays the same for any
// file.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr std::size_t kTokenTextLimit = 1023;
constexpr std::size_t kBase64TextLimit = 2047;
// Room for the cipher's output: the digest and a block of padding at most.
constexpr std::size_t kCipherRoom = kDigestSize + kFileTokenKeySize;

using Digest = std::array<std::uint8_t, kDigestSize>;

// A streaming digest of the algorithm library, ended on every path.
class LibraryDigest {
  public:
    LibraryDigest() = default;
    ~LibraryDigest() {
        if (context_ != nullptr) {
            boundFunctions().qzAlgLib.QZA_Hash_Final(context_, nullptr, nullptr);
        }
    }
    LibraryDigest(const LibraryDigest&) = delete;
    LibraryDigest& operator=(const LibraryDigest&) = delete;

    [[nodiscard]] bool start(std::uint32_t alg) noexcept {
        return boundFunctions().qzAlgLib.QZA_Hash_Init(alg, &context_) == QZA_OK &&
               context_ != nullptr;
    }
    // Pieces the library takes are counted in 32 bits: the callers' are far
    // smaller.
    [[nodiscard]] bool update(std::span<const std::uint8_t> data) noexcept {
        return data.size() <= UINT32_MAX &&
               boundFunctions().qzAlgLib.QZA_Hash_Update(
                   context_, data.data(), static_cast<std::uint32_t>(data.size())) == QZA_OK;
    }
    [[nodiscard]] std::optional<Digest> finish() noexcept {
        void* context = std::exchange(context_, nullptr);
        Digest digest{};
        std::uint32_t length = digest.size();
        if (boundFunctions().qzAlgLib.QZA_Hash_Final(context, digest.data(), &length) != QZA_OK ||
            length != digest.size()) {
            return std::nullopt;
        }
        return digest;
    }

  private:
    void* context_ = nullptr;
};

std::span<const std::uint8_t> bytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The part of a block read at `at` that falls within the range, added to excerpt.
void takeExcerpt(const ExcerptRange& range, std::uint64_t at, std::span<const std::uint8_t> block,
                 Bytes& excerpt) {
    const std::uint64_t from = std::max(at, range.offset);
    const std::uint64_t to = std::min(at + block.size(), range.offset + range.maxLength);
    if (from < to) {
        excerpt.insert(excerpt.end(), block.begin() + (from - at), block.begin() + (to - at));
    }
}

// What digesting a file gives: the digest, how many of its bytes it took and
// the excerpt asked for, cut from them.
struct DigestedFile {
    Digest digest{};
    std::uint64_t length = 0;
    Bytes excerpt;
};

// SM3 over the UTF-8 path, the file's bytes and the salt, the file streamed
// through in blocks; the excerpt, if any, is taken on the way.
Result<DigestedFile> digestFile(std::string_view utf8Path, const RegularFile& file,
                                const FileTokenSalt& salt,
                                const std::optional<ExcerptRange>& range) {
    LibraryDigest sm3;
    if (!sm3.start(QZA_HASH_SM3) || !sm3.update(bytesOf(utf8Path))) {
        return kOperationFailed;
    }
    DigestedFile digested;
    // A small file takes a block of its own size, not the whole MiB.
    Bytes block(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, file.size())));
    std::uint64_t& read = digested.length;
    // What the file grew by since it was opened is not read.
    while (read < file.size()) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, file.size() - read));
        const std::optional<std::size_t> got = file.readAt(read, std::span(block).first(wanted));
        if (!got) {
            return kOpenFileError;
        }
        if (!sm3.update(std::span(block).first(*got))) {
            return kOperationFailed;
        }
        if (range) {
            takeExcerpt(*range, read, std::span(block).first(*got), digested.excerpt);
        }
        read += *got;
        if (*got < wanted) {
            break;
        }
    }
    if (!sm3.update(salt)) {
        return kOperationFailed;
    }
    const std::optional<Digest> digest = sm3.finish();
    if (!digest) {
        return kOperationFailed;
    }
    digested.digest = *digest;
    return digested;
}

// A named file's digest encrypted with FileTokenKey, drawn the first time;
// none when the algorithm library fails.
std::optional<Digest> encryptDigest(const Digest& digest) {
    const QZAlgLibApi& library = boundFunctions().qzAlgLib;
    FileTokenKey& key = fileTokenState().key;
    if (!key.drawn) {
        if (library.QZA_Random(key.bytes.data(), key.bytes.size()) != QZA_OK) {
            return std::nullopt;
        }
        key.drawn = true;
    }
    // The block size is also the key length the cipher reads.
    const std::int32_t blockSize = library.QZA_GetSymmBlockSize(QZA_SYMM_SM4_ECB);
    if (blockSize <= 0 || static_cast<std::size_t>(blockSize) > key.bytes.size()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kCipherRoom> out{};
    if (library.QZA_Encrypt(QZA_SYMM_SM4_ECB, QZA_SYMM_MODE_ENCRYPT, key.bytes.data(),
                            static_cast<std::uint32_t>(blockSize), 0, nullptr, digest.data(),
                            digest.size(), out.data()) != QZA_OK) {
        return std::nullopt;
    }
    Digest encrypted{};
    std::copy_n(out.begin(), encrypted.size(), encrypted.begin());
    return encrypted;
}

// The name part of a path. Folders end at '/' here: a backslash is an
// ordinary character of a name on this system.
std::string_view nameOf(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A token built over a file, with how many of its bytes were digested and the
// excerpt asked for of them.
struct TokenisedFile {
    FileToken token;
    std::uint64_t length = 0;
    Bytes excerpt;
};

// BuildFileToken over a file open under path.
Result<TokenisedFile> tokenOfFile(FileTokenMode mode, std::string_view path,
                                  const RegularFile& file, const FileTokenSalt& salt,
                                  FileTokenKeyName key, const std::optional<ExcerptRange>& range) {
    const std::optional<std::string> utf8Path = ansiToUtf8(path);
    if (!utf8Path) {
        return kNoFile;
    }
    // The digest, streamed; a named file's encrypted.
    Result<DigestedFile> digested = digestFile(*utf8Path, file, salt, range);
    if (!digested) {
        return digested.code();
    }
    if (mode == FileTokenMode::named) {
        const std::optional<Digest> encrypted = encryptDigest(digested->digest);
        if (!encrypted) {
            return kOperationFailed;
        }
        digested->digest = *encrypted;
    }
    // The text names the file by its path, or a signature file by its name.
    std::string token = toHex(digested->digest);
    const bool byName = key == FileTokenKeyName::fileName;
    const std::string text = "TOKEN=" + token + "||" + (byName ? "FILENAME" : "FILEPATH") + "=" +
                             std::string(byName ? nameOf(*utf8Path) : *utf8Path) +
                             "||FILESIZE=" + std::to_string(digested->length);
    if (text.size() > kTokenTextLimit) {
        return kNoFile;
    }
    std::string encoded = base64Encode(bytesOf(text));
    if (encoded.size() > kBase64TextLimit) {
        return kBase64EncodeError;
    }
    return TokenisedFile{FileToken{std::move(token), std::move(encoded)}, digested->length,
                         std::move(digested->excerpt)};
}

// Only a path the record can hold, never one cut short.
[[nodiscard]] bool recordable(std::string_view path) noexcept {
    return !path.empty() && path.size() <= kFileTokenPathLimit;
}

// A file opened once and the token built through that descriptor.
struct OpenedToken {
    RegularFile file;
    TokenisedFile tokenised;
};

// BuildFileToken by path: the file is opened once and digested through that
// descriptor.
Result<OpenedToken> openAndTokenise(FileTokenMode mode, std::string_view path,
                                    const FileTokenSalt& salt, FileTokenKeyName key,
                                    const std::optional<ExcerptRange>& range) {
    if (!recordable(path)) {
        return kNoFile;
    }
    // A file that does not open is kOpenFileError even when its path would not convert.
    std::optional<RegularFile> file = RegularFile::open(path);
    if (!file) {
        return kOpenFileError;
    }
    Result<TokenisedFile> tokenised = tokenOfFile(mode, path, *file, salt, key, range);
    if (!tokenised) {
        return tokenised.code();
    }
    return OpenedToken{std::move(*file), std::move(*tokenised)};
}

}  // namespace

std::optional<FileTokenSalt> drawFileTokenSalt() {
    FileTokenSalt salt{};
    if (boundFunctions().qzAlgLib.QZA_Random(salt.data(), salt.size()) != QZA_OK) {
        return std::nullopt;
    }
    return salt;
}

Result<FileToken> buildFileToken(FileTokenMode mode, std::string_view path,
                                 const FileTokenSalt& salt, FileTokenKeyName key) {
    Result<OpenedToken> opened = openAndTokenise(mode, path, salt, key, std::nullopt);
    if (!opened) {
        return opened.code();
    }
    return std::move(opened->tokenised.token);
}

Result<FileToken> buildFileToken(FileTokenMode mode, std::string_view path, const RegularFile& file,
                                 const FileTokenSalt& salt, FileTokenKeyName key) {
    if (!recordable(path)) {
        return kNoFile;
    }
    Result<TokenisedFile> tokenised = tokenOfFile(mode, path, file, salt, key, std::nullopt);
    if (!tokenised) {
        return tokenised.code();
    }
    return std::move(tokenised->token);
}

Result<ResolvedFile> resolveFileToken(std::string_view token, FileTokenKeyName key,
                                      std::optional<ExcerptRange> excerpt) {
    if (token.size() != kFileTokenDigits) {
        return kTokenInfoError;
    }
    // A signature file's token is checked against the signed file's record
    // only; any other against the chosen file's.
    const FileTokenState& state = fileTokenState();
    const bool byName = key == FileTokenKeyName::fileName;
    const std::optional<FileTokenRecord>& record = byName ? state.signedFile : state.chosenFile;
    if (!record || record->token.size() != kFileTokenDigits || record->token != token) {
        return kTokenInfoError;
    }
    // The file as it is now must give the same token. It stays open for the
    // caller: a moment later its path may lead elsewhere.
    Result<OpenedToken> rebuilt = openAndTokenise(byName ? FileTokenMode::chosen : record->mode,
                                                  record->path, record->salt, key, excerpt);
    if (!rebuilt) {
        return rebuilt.code();
    }
    if (rebuilt->tokenised.token.text != record->tokenText) {
        return kTokenInfoError;
    }
    return ResolvedFile{record->path, std::move(rebuilt->file), rebuilt->tokenised.length,
                        std::move(rebuilt->tokenised.excerpt)};
}

FileTokenRecord makeFileTokenRecord(const FileToken& token, const FileTokenSalt& salt,
                                    std::string_view path, FileTokenMode mode) {
    return FileTokenRecord{token.text, salt, std::string(path), token.token, mode};
}

}  // namespace orva::api
