#include "signature_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <utility>

#include "code_page_text.h"
#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"
#include "signer_cn.h"
#include "time_stamp_name.h"
#include "win32/system.h"
#include "win32/types.h"

namespace orva::api {

namespace {

constexpr std::size_t kSignaturePathLimit = 259;
constexpr std::size_t kMinuteDigits = 12;
constexpr int kNameDigits = 6;
// Names tried in one folder before it is given up.
constexpr int kNameTries = 8;
constexpr mode_t kNewFileMode = 0666;

// A new file in folder ("" is the current one), created exclusively so that a
// taken name or a planted link is never written through. kNoFile when the
// folder cannot take it, so that the next one is tried.
Result<SignatureFile> writeInFolder(const std::string& folder, const std::string& stem,
                                    std::string_view text) {
    for (int i = 0; i < kNameTries; ++i) {
        const std::optional<std::string> digits = randomDigits(kNameDigits);
        if (!digits) {
            return kOperationFailed;
        }
        std::string candidate = folder + stem + *digits + ".sig";
        if (candidate.size() > kSignaturePathLimit) {
            return kNoFile;
        }
        FileDescriptor fd(::open(candidate.c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode));
        if (!fd) {
            if (errno == EEXIST) {
                continue;
            }
            return kNoFile;
        }
        // What was written is read back through a second descriptor of the same
        // open file, never through the path; the first is closed now, as the
        // close is where a delayed write error shows.
        const bool complete = writeAll(fd.get(), text);
        std::optional<RegularFile> reader =
            complete ? RegularFile::adopt(FileDescriptor(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0)))
                     : std::nullopt;
        if (!fd.close() || !reader) {
            ::unlink(candidate.c_str());
            return kWriteFileError;
        }
        return SignatureFile{std::move(candidate), std::move(*reader)};
    }
    return kNoFile;
}

// The signer's name as it starts a file name: made safe while it is UTF-8
// (where every ASCII byte is a character of its own), then in the ANSI code
// page, as every path the library handles.
std::string signerFileName() {
    std::optional<std::string> name = utf8ToAnsi(fileNameSafe(signerCn()));
    return name ? std::move(*name) : fileNameSafe({});
}

std::string temporaryFolder() {
    std::array<char, MAX_PATH + 1> buffer{};
    const DWORD length = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), length);
}

}  // namespace

Result<SignatureFile> writeSignatureFile(std::string_view signedPath, std::string_view text) {
    if (signedPath.empty() || text.empty()) {
        return kNoFile;
    }
    const std::optional<std::string> stamp = makeTimeStampName();
    if (!stamp || stamp->size() < kMinuteDigits) {
        return kNoFile;
    }
    const std::string stem = signerFileName() + "." + stamp->substr(0, kMinuteDigits) + ".";
    // The signed file's folder, up to and with its last '/'.
    const std::size_t slash = signedPath.rfind('/');
    const std::string folder = slash == std::string_view::npos
                                   ? std::string()
                                   : std::string(signedPath.substr(0, slash + 1));
    const std::string temporary = temporaryFolder();
    for (const std::string* candidate : {&folder, &temporary}) {
        if (candidate == &temporary && temporary.empty()) {
            break;
        }
        Result<SignatureFile> written = writeInFolder(*candidate, stem, text);
        if (written || written.code() != kNoFile) {
            return written;
        }
    }
    return kNoFile;
}

}  // namespace orva::api
