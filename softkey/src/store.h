#pragma once

// The software keys' store: a folder shared by every process that uses a key.
//   <root>/present/<SN>.json   a key plugged in
//   <root>/removed/<SN>.json   a key pulled out
//   <root>/lock                taken (flock, exclusive) by every change
//   <root>/user.json, display.log, faults.json, registered.json, trace, trace.log
// A change re-reads its file under the lock, writes "<file>.tmp.<pid>", fsyncs
// it, renames it over the file and fsyncs the folder; readers never lock, since
// a rename replaces a file whole. A process parses each key file once per
// version of the file (key_cache.h).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "orva/file_descriptor.h"
#include "token.h"

namespace orva::softkey {

// Why a store operation failed.
enum class StoreErrorKind {
    notFound,     // no key of that serial in the store
    notPresent,   // the key exists but is pulled out
    exists,       // a key of that serial exists already
    badSerial,    // not a serial isValidSerial accepts
    malformed,    // a store file is not what it should be; it is left alone
    writeFailed,  // the change was not written; the file is as it was
    io,           // reading or locking failed
};

struct StoreError : std::runtime_error {
    StoreError(StoreErrorKind kind, const std::string& what)
        : std::runtime_error(what), kind(kind) {}
    StoreErrorKind kind;
};

enum class KeyPlace { present, removed };

// Holds the store's lock while it lives. Reentrant within a thread, so a change
// may call other changes; each outermost hold opens the lock file afresh, so a
// forked child never shares its parent's hold.
class StoreLock {
  public:
    explicit StoreLock(const std::filesystem::path& root);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

  private:
    std::string root_;
};

class Store {
  public:
    explicit Store(std::filesystem::path root);

    // $ORVA_SOFTKEY_DIR, else ~/.local/share/orva/softkey.
    static Store fromEnvironment();

    const std::filesystem::path& root() const noexcept { return root_; }
    std::filesystem::path keyPath(const std::string& serial, KeyPlace place) const;
    std::filesystem::path file(std::string_view name) const { return root_ / name; }

    // Serials of the keys in a place, sorted.
    std::vector<std::string> serials(KeyPlace place) const;
    // Where the key is, if it exists.
    std::optional<KeyPlace> placeOf(const std::string& serial) const;

    // The key wherever it is (read(serial)), or only when plugged in
    // (readPresent: notPresent when pulled out), shared with this process's
    // other readers of that version of the key.
    Token read(const std::string& serial) const;
    std::shared_ptr<const Token> readPresent(const std::string& serial) const;

    // Adds a key; fails with exists when the serial is taken in either place.
    void create(const Token& token, KeyPlace place = KeyPlace::present);
    // Deletes a key for good.
    void erase(const std::string& serial);
    // Moves a key between present/ and removed/; moving it where it is is no change.
    void plug(const std::string& serial);
    void unplug(const std::string& serial);

    // Changes a key under the lock: re-reads it, calls change and writes it back
    // if the key differs afterwards. With mustBePresent a pulled-out key fails with
    // notPresent. What change returns is passed on; if it throws, nothing is written.
    template <typename F>
    auto update(const std::string& serial, bool mustBePresent, F&& change)
        -> std::invoke_result_t<F, Token&> {
        using R = std::invoke_result_t<F, Token&>;
        if constexpr (std::is_void_v<R>) {
            modify(serial, mustBePresent, [&](Token& t) { change(t); });
        } else {
            std::optional<R> result;
            modify(serial, mustBePresent, [&](Token& t) { result.emplace(change(t)); });
            return std::move(*result);
        }
    }

    // Whether the store's folder holds an entry of that name (trace, faults.json);
    // a look at the folder's times while it is unchanged.
    bool has(std::string_view name) const;

    // A store file other than a key (user.json…): its text, or nothing if absent.
    std::optional<std::string> readText(std::string_view name) const;
    // Replaces a store file under the lock; change gets the current text (nothing if
    // absent) and returns the new one (nothing deletes the file). faultable files
    // obey failWrites.
    void modifyText(
        std::string_view name, bool faultable,
        const std::function<std::optional<std::string>(std::optional<std::string>)>& change);
    // Appends one line (a '\n' is added) with a single write.
    void appendLine(std::string_view name, std::string_view line) const;

    // While set, every change of a key file (and of other faultable files) fails
    // with writeFailed before anything is written.
    void setFailWrites(bool fail) noexcept { failWrites_ = fail; }

  private:
    void modify(const std::string& serial, bool mustBePresent,
                const std::function<void(Token&)>& change);
    void ensureLayout() const;
    // With written, the new file stays open there.
    void writeAtomic(const std::filesystem::path& path, std::string_view content, bool faultable,
                     FileDescriptor* written = nullptr) const;
    void move(const std::string& serial, KeyPlace to);

    std::filesystem::path root_;
    bool failWrites_ = false;
};

}  // namespace orva::softkey
