#include "store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"

namespace orva::softkey {

namespace fs = std::filesystem;

namespace {

// No store file is near this size; a bigger one is not ours.
inline constexpr std::size_t kMaxFileBytes = 16u << 20;

constexpr const char* kPresentDir = "present";
constexpr const char* kRemovedDir = "removed";
constexpr const char* kKeySuffix = ".json";

std::string errnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

void fsyncDir(const fs::path& dir) {
    const FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        throw StoreError(StoreErrorKind::writeFailed, errnoText("fsync " + dir.string(), errno));
    }
}

void makeDir(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        throw StoreError(StoreErrorKind::io, errnoText("mkdir " + dir.string(), errno));
    }
}

// The whole file, or nothing when it does not exist.
std::optional<SecureString> readWhole(const fs::path& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw StoreError(StoreErrorKind::io, errnoText("open " + path.string(), errno));
    }
    SecureString text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw StoreError(StoreErrorKind::io, errnoText("read " + path.string(), errno));
        }
        if (n == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
            throw StoreError(StoreErrorKind::malformed, path.string() + " is too large");
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return text;
}

Token parseKey(const SecureString& text, const std::string& serial, const fs::path& path) {
    try {
        Token token = tokenFromJson(std::string_view(text.data(), text.size()));
        if (token.serial != serial) {
            throw StoreError(StoreErrorKind::malformed,
                             path.string() + " holds the key " + token.serial);
        }
        return token;
    } catch (const TokenError& e) {
        throw StoreError(StoreErrorKind::malformed, path.string() + ": " + e.what());
    }
}

// Locks held by this thread, by store: a change inside a change reuses the hold.
struct Hold {
    std::string root;
    int fd;
    int depth;
};
thread_local std::vector<Hold> tHolds;

}  // namespace

// --- lock --------------------------------------------------------------------

StoreLock::StoreLock(const fs::path& root) : root_(root.string()) {
    for (Hold& hold : tHolds) {
        if (hold.root == root_) {
            ++hold.depth;
            return;
        }
    }
    const fs::path path = root / "lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw StoreError(StoreErrorKind::io, errnoText("open " + path.string(), errno));
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            throw StoreError(StoreErrorKind::io, errnoText("flock " + path.string(), err));
        }
    }
    try {
        tHolds.push_back(Hold{root_, fd, 1});
    } catch (...) {
        ::close(fd);
        throw;
    }
}

StoreLock::~StoreLock() {
    for (auto it = tHolds.begin(); it != tHolds.end(); ++it) {
        if (it->root == root_) {
            if (--it->depth == 0) {
                ::close(it->fd);  // closing the only descriptor drops the flock
                tHolds.erase(it);
            }
            return;
        }
    }
}

// --- store -------------------------------------------------------------------

Store::Store(fs::path root) : root_(std::move(root)) {}

Store Store::fromEnvironment() {
    if (const char* dir = std::getenv("ORVA_SOFTKEY_DIR"); dir != nullptr && *dir != '\0') {
        return Store(dir);
    }
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    } else {
        throw StoreError(StoreErrorKind::io, "no home folder for the store");
    }
    return Store(fs::path(home) / ".local" / "share" / "orva" / "softkey");
}

fs::path Store::keyPath(const std::string& serial, KeyPlace place) const {
    return root_ / (place == KeyPlace::present ? kPresentDir : kRemovedDir) / (serial + kKeySuffix);
}

void Store::ensureLayout() const {
    std::error_code ec;
    fs::create_directories(root_.parent_path(), ec);
    makeDir(root_);
    makeDir(root_ / kPresentDir);
    makeDir(root_ / kRemovedDir);
}

std::vector<std::string> Store::serials(KeyPlace place) const {
    std::vector<std::string> out;
    const fs::path dir = root_ / (place == KeyPlace::present ? kPresentDir : kRemovedDir);
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) {
            return out;
        }
        throw StoreError(StoreErrorKind::io, "list " + dir.string() + ": " + ec.message());
    }
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        const std::size_t suffix = std::char_traits<char>::length(kKeySuffix);
        if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kKeySuffix) != 0) {
            continue;  // leftover "<SN>.json.tmp.<pid>" files are not keys
        }
        std::string serial = name.substr(0, name.size() - suffix);
        if (isValidSerial(serial) && entry.is_regular_file(ec)) {
            out.push_back(std::move(serial));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<KeyPlace> Store::placeOf(const std::string& serial) const {
    if (!isValidSerial(serial)) {
        return std::nullopt;
    }
    for (const KeyPlace place : {KeyPlace::present, KeyPlace::removed}) {
        struct stat st {};
        if (::stat(keyPath(serial, place).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            return place;
        }
    }
    return std::nullopt;
}

Token Store::read(const std::string& serial) const {
    if (isValidSerial(serial)) {
        // Present first: a key being pulled out is then found in removed/.
        for (const KeyPlace place : {KeyPlace::present, KeyPlace::removed}) {
            const fs::path path = keyPath(serial, place);
            if (const auto text = readWhole(path)) {
                return parseKey(*text, serial, path);
            }
        }
    }
    throw StoreError(StoreErrorKind::notFound, "no key " + serial);
}

Token Store::readPresent(const std::string& serial) const {
    if (isValidSerial(serial)) {
        const fs::path path = keyPath(serial, KeyPlace::present);
        if (const auto text = readWhole(path)) {
            return parseKey(*text, serial, path);
        }
        if (placeOf(serial) == KeyPlace::removed) {
            throw StoreError(StoreErrorKind::notPresent, "key " + serial + " is pulled out");
        }
    }
    throw StoreError(StoreErrorKind::notFound, "no key " + serial);
}

void Store::create(const Token& token, KeyPlace place) {
    if (!isValidSerial(token.serial)) {
        throw StoreError(StoreErrorKind::badSerial, "not a valid serial: " + token.serial);
    }
    ensureLayout();
    const StoreLock lock(root_);
    if (placeOf(token.serial)) {
        throw StoreError(StoreErrorKind::exists, "a key " + token.serial + " exists");
    }
    writeAtomic(keyPath(token.serial, place), tokenToJson(token), true);
}

void Store::erase(const std::string& serial) {
    ensureLayout();
    const StoreLock lock(root_);
    const auto place = placeOf(serial);
    if (!place) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    const fs::path path = keyPath(serial, *place);
    if (::unlink(path.c_str()) != 0) {
        throw StoreError(StoreErrorKind::writeFailed, errnoText("unlink " + path.string(), errno));
    }
    fsyncDir(path.parent_path());
}

void Store::plug(const std::string& serial) {
    move(serial, KeyPlace::present);
}

void Store::unplug(const std::string& serial) {
    move(serial, KeyPlace::removed);
}

void Store::move(const std::string& serial, KeyPlace to) {
    ensureLayout();
    const StoreLock lock(root_);
    const auto place = placeOf(serial);
    if (!place) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    if (*place == to) {
        return;
    }
    const fs::path from = keyPath(serial, *place);
    const fs::path target = keyPath(serial, to);
    if (::rename(from.c_str(), target.c_str()) != 0) {
        throw StoreError(StoreErrorKind::writeFailed, errnoText("rename " + from.string(), errno));
    }
    fsyncDir(target.parent_path());
    fsyncDir(from.parent_path());
}

void Store::modify(const std::string& serial, bool mustBePresent,
                   const std::function<void(Token&)>& change) {
    ensureLayout();
    const StoreLock lock(root_);
    const auto place = placeOf(serial);
    if (!place) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    if (mustBePresent && *place != KeyPlace::present) {
        throw StoreError(StoreErrorKind::notPresent, "key " + serial + " is pulled out");
    }
    const fs::path path = keyPath(serial, *place);
    const auto text = readWhole(path);
    if (!text) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    Token token = parseKey(*text, serial, path);
    const SecureString before = tokenToJson(token);
    change(token);
    if (token.serial != serial) {
        throw std::logic_error("a change may not rename a key");
    }
    const SecureString after = tokenToJson(token);
    if (after != before) {
        writeAtomic(path, after, true);
    }
}

std::optional<std::string> Store::readText(std::string_view name) const {
    const auto text = readWhole(file(name));
    if (!text) {
        return std::nullopt;
    }
    return std::string(text->data(), text->size());
}

void Store::modifyText(
    std::string_view name, bool faultable,
    const std::function<std::optional<std::string>(std::optional<std::string>)>& change) {
    ensureLayout();
    const StoreLock lock(root_);
    std::optional<std::string> current = readText(name);
    const bool existed = current.has_value();
    std::optional<std::string> next = change(current);
    const fs::path path = file(name);
    if (!next) {
        if (existed) {
            if (faultable && failWrites_) {
                throw StoreError(StoreErrorKind::writeFailed, "write fault: " + path.string());
            }
            if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
                throw StoreError(StoreErrorKind::writeFailed,
                                 errnoText("unlink " + path.string(), errno));
            }
            fsyncDir(path.parent_path());
        }
        return;
    }
    if (next != current) {
        writeAtomic(path, *next, faultable);
    }
}

void Store::appendLine(std::string_view name, std::string_view line) const {
    ensureLayout();
    const fs::path path = file(name);
    const FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    std::string text(line);
    text.push_back('\n');
    // One write keeps concurrent appends from interleaving within a line.
    if (fd.get() < 0 || !writeAll(fd.get(), text)) {
        throw StoreError(StoreErrorKind::io, errnoText("append " + path.string(), errno));
    }
}

void Store::writeAtomic(const fs::path& path, std::string_view content, bool faultable) const {
    if (faultable && failWrites_) {
        throw StoreError(StoreErrorKind::writeFailed, "write fault: " + path.string());
    }
    const ReplacementResult written = replaceFile(path.string(), content, NewFileMode{0600});
    if (!written) {
        throw StoreError(StoreErrorKind::writeFailed,
                         errnoText(std::string(written.step) + " " + path.string(), written.error));
    }
}

}  // namespace orva::softkey
