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
#include <mutex>
#include <thread>

#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"
#include "orva/file_version.h"
#include "orva/read_all.h"
#include "orva/regular_file_open.h"

#include "folder_listing.h"
#include "key_cache.h"
#include "secure_bytes.h"

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

// The rest of an open file. Key files hold private keys: the buffer wipes
// itself whichever way this ends.
SecureString readRest(int fd, const fs::path& path) {
    const ReadResult text = readAll<SecureBytes>(fd, kMaxFileBytes);
    if (text.error == EFBIG) {
        throw StoreError(StoreErrorKind::malformed, path.string() + " is too large");
    }
    if (!text) {
        throw StoreError(StoreErrorKind::io, errnoText("read " + path.string(), text.error));
    }
    return SecureString(text.data.begin(), text.data.end());
}

// The file opened for reading, or nothing when it does not exist.
std::optional<FileDescriptor> openExisting(const fs::path& path) {
    FileDescriptor fd = openRegularFile(path.c_str(), O_RDONLY);
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        if (errno == kNotRegularFile) {
            throw StoreError(StoreErrorKind::malformed, path.string() + " is not a regular file");
        }
        throw StoreError(StoreErrorKind::io, errnoText("open " + path.string(), errno));
    }
    return fd;
}

// The whole file, or nothing when it does not exist.
std::optional<SecureString> readWhole(const fs::path& path) {
    const auto fd = openExisting(path);
    if (!fd) {
        return std::nullopt;
    }
    return readRest(fd->get(), path);
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

// The key in a file, parsed once per version of the file; null when the file
// does not exist. A key read before costs one stat.
std::shared_ptr<const Token> loadKey(const fs::path& path, const std::string& serial) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            throw StoreError(StoreErrorKind::io, errnoText("stat " + path.string(), errno));
        }
        forgetKey(path.string());
        return nullptr;
    }
    if (auto cached = cachedKey(path.string(), FileVersion::of(st))) {
        return cached;
    }
    auto fd = openExisting(path);
    if (!fd) {
        forgetKey(path.string());
        return nullptr;
    }
    if (::fstat(fd->get(), &st) != 0) {
        throw StoreError(StoreErrorKind::io, errnoText("stat " + path.string(), errno));
    }
    Token token = parseKey(readRest(fd->get(), path), serial, path);
    return rememberKey(path.string(), FileVersion::of(st), std::move(*fd), std::move(token));
}

// Locks held, by thread and store: a change inside a change reuses its thread's
// hold. Kept in one guarded list rather than in thread-local storage, because
// the modules that hold it are loaded and unloaded at run time.
struct Hold {
    std::thread::id owner;
    std::string root;
    int fd;
    int depth;
};
std::mutex gHoldsMutex;
std::vector<Hold> gHolds;

Hold* findHold(const std::string& root) {
    const auto self = std::this_thread::get_id();
    for (Hold& hold : gHolds) {
        if (hold.owner == self && hold.root == root) {
            return &hold;
        }
    }
    return nullptr;
}

}  // namespace

// --- lock --------------------------------------------------------------------

StoreLock::StoreLock(const fs::path& root) : root_(root.string()) {
    {
        const std::lock_guard guard(gHoldsMutex);
        if (Hold* hold = findHold(root_)) {
            ++hold->depth;
            return;
        }
    }
    const fs::path path = root / "lock";
    const int fd = openRegularFile(path.c_str(), O_RDWR | O_CREAT, 0600).release();
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
        const std::lock_guard guard(gHoldsMutex);
        gHolds.push_back(Hold{std::this_thread::get_id(), root_, fd, 1});
    } catch (...) {
        ::close(fd);
        throw;
    }
}

StoreLock::~StoreLock() {
    const std::lock_guard guard(gHoldsMutex);
    Hold* hold = findHold(root_);
    if (hold != nullptr && --hold->depth == 0) {
        ::close(hold->fd);  // closing the only descriptor drops the flock
        gHolds.erase(gHolds.begin() + (hold - gHolds.data()));
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
    const auto listing =
        listFolder(root_ / (place == KeyPlace::present ? kPresentDir : kRemovedDir));
    const std::size_t suffix = std::char_traits<char>::length(kKeySuffix);
    for (const FolderEntry& entry : *listing) {
        const std::string& name = entry.name;
        if (!entry.regularFile || name.size() <= suffix ||
            name.compare(name.size() - suffix, suffix, kKeySuffix) != 0) {
            continue;  // leftover "<SN>.json.tmp.<pid>" files are not keys
        }
        std::string serial = name.substr(0, name.size() - suffix);
        if (isValidSerial(serial)) {
            out.push_back(std::move(serial));
        }
    }
    std::sort(out.begin(), out.end());  // "SK1-2.json" lists before "SK1.json"
    return out;
}

bool Store::has(std::string_view name) const {
    return hasEntry(*listFolder(root_), name);
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
            if (const auto key = loadKey(keyPath(serial, place), serial)) {
                return *key;
            }
        }
    }
    throw StoreError(StoreErrorKind::notFound, "no key " + serial);
}

std::shared_ptr<const Token> Store::readPresent(const std::string& serial) const {
    if (isValidSerial(serial)) {
        if (auto key = loadKey(keyPath(serial, KeyPlace::present), serial)) {
            return key;
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
    // A key that exists has the store's folders and lock file beside it.
    if (!placeOf(serial)) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    const StoreLock lock(root_);
    const auto place = placeOf(serial);
    if (!place) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    if (mustBePresent && *place != KeyPlace::present) {
        throw StoreError(StoreErrorKind::notPresent, "key " + serial + " is pulled out");
    }
    const fs::path path = keyPath(serial, *place);
    const auto before = loadKey(path, serial);
    if (!before) {
        throw StoreError(StoreErrorKind::notFound, "no key " + serial);
    }
    Token key = *before;
    change(key);
    if (key.serial != serial) {
        throw std::logic_error("a change may not rename a key");
    }
    if (key == *before) {
        return;
    }
    FileDescriptor written;
    writeAtomic(path, tokenToJson(key), true, &written);
    // The file just written is what the next read finds, unless another
    // process replaces it first (a new inode, so no match).
    struct stat st {};
    if (::fstat(written.get(), &st) == 0) {
        rememberKey(path.string(), FileVersion::of(st), std::move(written), std::move(key));
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
    const fs::path path = file(name);
    const auto open = [&] {
        return openRegularFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    };
    FileDescriptor fd = open();
    if (fd.get() < 0 && errno == ENOENT) {
        ensureLayout();
        fd = open();
    }
    std::string text(line);
    text.push_back('\n');
    // One write keeps concurrent appends from interleaving within a line.
    if (fd.get() < 0 || !writeAll(fd.get(), text)) {
        throw StoreError(StoreErrorKind::io, errnoText("append " + path.string(), errno));
    }
}

void Store::writeAtomic(const fs::path& path, std::string_view content, bool faultable,
                        FileDescriptor* written) const {
    if (faultable && failWrites_) {
        throw StoreError(StoreErrorKind::writeFailed, "write fault: " + path.string());
    }
    const ReplacementResult replaced =
        replaceFile(path.string(), content, NewFileMode{0600}, written);
    if (!replaced) {
        throw StoreError(
            StoreErrorKind::writeFailed,
            errnoText(std::string(replaced.step) + " " + path.string(), replaced.error));
    }
}

}  // namespace orva::softkey
