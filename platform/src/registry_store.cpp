#include "registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"
#include "orva/file_version.h"
#include "orva/read_all.h"
#include "orva/regular_file_open.h"

namespace orva::platform::registry {

namespace {

constexpr const char* kDefaultRegistryFile = "/etc/orva/registry.reg";

LSTATUS statusOfErrno(int error) noexcept {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_REGISTRY_IO_FAILED;
    }
}

// The last file parsed, so that repeated reads of an unchanged file are cheap.
struct Cache {
    std::mutex mutex;
    bool valid = false;
    std::string path;
    FileVersion version;
    FileDescriptor file;
    Snapshot snapshot;
};

Cache& cache() {
    // Never destroyed: Reg* calls from other modules' static destructors still work.
    static Cache* instance = new Cache;
    return *instance;
}

void remember(const std::string& path, const FileVersion& version, FileDescriptor file,
              const Snapshot& snapshot) {
    Cache& entry = cache();
    std::lock_guard lock(entry.mutex);
    entry.valid = true;
    entry.path = path;
    entry.version = version;
    entry.file = std::move(file);
    entry.snapshot = snapshot;
}

Snapshot parseSnapshot(std::string_view text) {
    Snapshot snapshot;
    Document document;
    if (!parseText(text, TextKind::kRegistryFile, &document, &snapshot.error)) {
        snapshot.status = ERROR_REGISTRY_CORRUPT;
        return snapshot;
    }
    auto hive = std::make_shared<Hive>();
    applyDocument(document, false, *hive);
    snapshot.hive = std::move(hive);
    return snapshot;
}

struct FileState {
    bool exists = false;
    mode_t mode = 0;
};

Snapshot load(const std::string& path, FileState* state) {
    Snapshot snapshot;
    struct stat st {};
    FileDescriptor file = openRegularFile(path.c_str(), O_RDONLY, 0, &st);
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) {
            snapshot.hive = std::make_shared<const Hive>();
        } else {
            snapshot.status = statusOfErrno(errno);  // a FIFO or folder too
        }
        return snapshot;
    }
    state->exists = true;
    state->mode = st.st_mode & 07777;
    const FileVersion version = FileVersion::of(st);
    {
        Cache& entry = cache();
        std::lock_guard lock(entry.mutex);
        if (entry.valid && entry.path == path && entry.version == version) {
            return entry.snapshot;
        }
    }
    // Past the limit the parser refuses the text and says why.
    const ReadResult text = readAll<std::string>(file.get(), kMaxTextSize);
    if (!text && text.error != EFBIG) {
        snapshot.status = statusOfErrno(text.error);
        return snapshot;
    }
    snapshot = parseSnapshot(text.data);
    remember(path, version, std::move(file), snapshot);
    return snapshot;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p: every missing level, from the top.
LSTATUS makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    }
    for (std::size_t at = 1;; ++at) {
        at = folder.find('/', at);
        const std::string level = folder.substr(0, at);
        if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
            return statusOfErrno(errno);
        }
        if (at == std::string::npos) {
            return ERROR_SUCCESS;
        }
    }
}

}  // namespace

std::string registryFilePath() {
    const char* configured = std::getenv("ORVA_REGISTRY");
    return (configured != nullptr && *configured != '\0') ? std::string(configured)
                                                          : std::string(kDefaultRegistryFile);
}

Snapshot readRegistry() {
    FileState state;
    return load(registryFilePath(), &state);
}

LSTATUS modifyRegistry(const Change& change, TextError* error) {
    const std::string path = registryFilePath();
    const std::string folder = folderOf(path);
    LSTATUS status = makeFolders(folder);
    if (status != ERROR_SUCCESS) {
        return status;
    }

    // Writers queue on the lock; each re-reads the file under it, so no
    // change made by another process is lost.
    FileDescriptor lock = openRegularFile((path + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (!lock) {
        return statusOfErrno(errno);
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return statusOfErrno(errno);
        }
    }

    FileState state;
    const Snapshot current = load(path, &state);
    if (current.status != ERROR_SUCCESS) {
        if (error != nullptr) {
            *error = current.error;
        }
        return current.status;
    }
    std::unique_ptr<Hive> hive = current.hive->clone();
    bool changed = false;
    status = change(*hive, changed);
    if (status != ERROR_SUCCESS || !changed) {
        return status;
    }

    // What is cached is what the file reads back as (a REG_SZ stored without
    // its NUL reads back with one), and a text that would not read back is
    // never written.
    const std::string text = writeHive(*hive);
    const Snapshot written = parseSnapshot(text);
    if (written.status != ERROR_SUCCESS) {
        return ERROR_GEN_FAILURE;
    }
    // A new file is made as the umask allows; a replaced one keeps its mode.
    FileDescriptor out;
    const ReplacementResult replaced =
        replaceFile(path, text, NewFileMode{state.exists ? state.mode : 0644, state.exists}, &out);
    if (!replaced) {
        return statusOfErrno(replaced.error);
    }
    struct stat st {};
    if (::fstat(out.get(), &st) == 0) {
        remember(path, FileVersion::of(st), std::move(out), written);
    }
    return ERROR_SUCCESS;
}

}  // namespace orva::platform::registry
