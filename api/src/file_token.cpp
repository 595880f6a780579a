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

    bool start(std::uint32_t alg) noexcept {
        return boundFunctions().qzAlgLib.QZA_Hash_Init(alg, &context_) == 0 && context_ != nullptr;
    }
    // Pieces the library takes are counted in 32 bits: the callers' are far
    // smaller.
    bool update(std::span<const std::uint8_t> data) noexcept {
        return data.size() <= UINT32_MAX &&
               boundFunctions().qzAlgLib.QZA_Hash_Update(
                   context_, data.data(), static_cast<std::uint32_t>(data.size())) == 0;
    }
    bool finish(Digest& digest) noexcept {
        void* context = std::exchange(context_, nullptr);
        std::uint32_t length = digest.size();
        return boundFunctions().qzAlgLib.QZA_Hash_Final(context, digest.data(), &length) == 0 &&
               length == digest.size();
    }

  private:
    void* context_ = nullptr;
};

std::span<const std::uint8_t> bytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The part of a block read at `at` that falls within the excerpt.
void takeExcerpt(FileExcerpt& excerpt, std::uint64_t at, std::span<const std::uint8_t> block) {
    const std::uint64_t from = std::max(at, excerpt.offset);
    const std::uint64_t to = std::min(at + block.size(), excerpt.offset + excerpt.maxLength);
    if (from < to) {
        excerpt.bytes.insert(excerpt.bytes.end(), block.begin() + (from - at),
                             block.begin() + (to - at));
    }
}

// SM3 over the UTF-8 path, the file's bytes (read holds how many) and the
// salt, the file streamed through in blocks; the excerpt, if any, is taken on
// the way.
ApiErrorCode digestFile(std::string_view utf8Path, const RegularFile& file,
                        const FileTokenSalt& salt, Digest& digest, std::uint64_t& read,
                        FileExcerpt* excerpt) {
    LibraryDigest sm3;
    if (!sm3.start(QZA_HASH_SM3) || !sm3.update(bytesOf(utf8Path))) {
        return kOperationFailed;
    }
    // A small file takes a block of its own size, not the whole MiB.
    Bytes block(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, file.size())));
    read = 0;
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
        if (excerpt != nullptr) {
            takeExcerpt(*excerpt, read, std::span(block).first(*got));
        }
        read += *got;
        if (*got < wanted) {
            break;
        }
    }
    if (!sm3.update(salt) || !sm3.finish(digest)) {
        return kOperationFailed;
    }
    return kSuccess;
}

// A named file's digest encrypted with FileTokenKey, drawn the first time.
ApiErrorCode encryptDigest(Digest& digest) {
    const QZAlgLibApi& library = boundFunctions().qzAlgLib;
    FileTokenKey& key = fileTokenState().key;
    if (!key.drawn) {
        if (library.QZA_Random(key.bytes.data(), key.bytes.size()) != 0) {
            return kOperationFailed;
        }
        key.drawn = true;
    }
    // The block size is also the key length the cipher reads.
    const std::int32_t blockSize = library.QZA_GetSymmBlockSize(QZA_SYMM_SM4_ECB);
    if (blockSize <= 0 || static_cast<std::size_t>(blockSize) > key.bytes.size()) {
        return kOperationFailed;
    }
    std::array<std::uint8_t, kCipherRoom> out{};
    if (library.QZA_Encrypt(QZA_SYMM_SM4_ECB, QZA_SYMM_MODE_ENCRYPT, key.bytes.data(),
                            static_cast<std::uint32_t>(blockSize), 0, nullptr, digest.data(),
                            digest.size(), out.data()) != 0) {
        return kOperationFailed;
    }
    std::copy_n(out.begin(), digest.size(), digest.begin());
    return kSuccess;
}

// The name part of a path. Folders end at '/' here: a backslash is an
// ordinary character of a name on this system.
std::string_view nameOf(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// BuildFileToken over a file open under path; read receives how many of its
// bytes were digested, the excerpt (if any) what it asks for of them.
ApiErrorCode tokenOfFile(FileTokenMode mode, std::string_view path, const RegularFile& file,
                         const FileTokenSalt& salt, FileTokenKeyName key, FileToken& out,
                         std::uint64_t& read, FileExcerpt* excerpt) {
    const std::optional<std::string> utf8Path = ansiToUtf8(path);
    if (!utf8Path) {
        return kNoFile;
    }
    // The digest, streamed; a named file's encrypted.
    Digest digest{};
    if (const ApiErrorCode code = digestFile(*utf8Path, file, salt, digest, read, excerpt);
        code != kSuccess) {
        return code;
    }
    if (mode == FileTokenMode::named) {
        if (const ApiErrorCode code = encryptDigest(digest); code != kSuccess) {
            return code;
        }
    }
    // The text names the file by its path, or a signature file by its name.
    std::string token = toHex(digest);
    const bool byName = key == FileTokenKeyName::fileName;
    const std::string text = "TOKEN=" + token + "||" + (byName ? "FILENAME" : "FILEPATH") + "=" +
                             std::string(byName ? nameOf(*utf8Path) : *utf8Path) +
                             "||FILESIZE=" + std::to_string(read);
    if (text.size() > kTokenTextLimit) {
        return kNoFile;
    }
    std::string encoded = base64Encode(bytesOf(text));
    if (encoded.size() > kBase64TextLimit) {
        return kBase64EncodeError;
    }
    out.token = std::move(token);
    out.text = std::move(encoded);
    return kSuccess;
}

// Only a path the record can hold, never one cut short.
bool recordable(std::string_view path) noexcept {
    return !path.empty() && path.size() <= kFileTokenPathLimit;
}

// BuildFileToken by path: the file is opened once, into file, and digested
// through that descriptor.
ApiErrorCode openAndTokenise(FileTokenMode mode, std::string_view path, const FileTokenSalt& salt,
                             FileTokenKeyName key, FileToken& out, std::optional<RegularFile>& file,
                             std::uint64_t& read, FileExcerpt* excerpt) {
    if (!recordable(path)) {
        return kNoFile;
    }
    // A file that does not open is kOpenFileError even when its path would not convert.
    file = RegularFile::open(path);
    if (!file) {
        return kOpenFileError;
    }
    return tokenOfFile(mode, path, *file, salt, key, out, read, excerpt);
}

}  // namespace

ApiErrorCode drawFileTokenSalt(FileTokenSalt& salt) {
    // A failed draw must not leave a salt behind.
    if (boundFunctions().qzAlgLib.QZA_Random(salt.data(), salt.size()) != 0) {
        salt.fill(0);
        return kOperationFailed;
    }
    return kSuccess;
}

ApiErrorCode buildFileToken(FileTokenMode mode, std::string_view path, const FileTokenSalt& salt,
                            FileTokenKeyName key, FileToken& out) {
    std::optional<RegularFile> file;
    std::uint64_t read = 0;
    return openAndTokenise(mode, path, salt, key, out, file, read, nullptr);
}

ApiErrorCode buildFileToken(FileTokenMode mode, std::string_view path, const RegularFile& file,
                            const FileTokenSalt& salt, FileTokenKeyName key, FileToken& out) {
    if (!recordable(path)) {
        return kNoFile;
    }
    std::uint64_t read = 0;
    return tokenOfFile(mode, path, file, salt, key, out, read, nullptr);
}

ApiErrorCode resolveFileToken(std::string_view token, FileTokenKeyName key, ResolvedFile& resolved,
                              FileExcerpt* excerpt) {
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
    FileToken rebuilt;
    std::optional<RegularFile> file;
    std::uint64_t read = 0;
    if (const ApiErrorCode code =
            openAndTokenise(byName ? FileTokenMode::chosen : record->mode, record->path,
                            record->salt, key, rebuilt, file, read, excerpt);
        code != kSuccess) {
        return code;
    }
    if (rebuilt.text != record->tokenText) {
        return kTokenInfoError;
    }
    resolved.path = record->path;
    resolved.file = std::move(file);
    resolved.length = read;
    return kSuccess;
}

FileTokenRecord makeFileTokenRecord(const FileToken& token, const FileTokenSalt& salt,
                                    std::string_view path, FileTokenMode mode) {
    return FileTokenRecord{token.text, salt, std::string(path), token.token, mode};
}

}  // namespace orva::api
