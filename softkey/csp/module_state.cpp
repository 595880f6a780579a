#include "module_state.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "csp_containers.h"
#include "faults.h"
#include "win32/errors.h"

namespace orva::qzcore3 {

namespace {

std::mutex& moduleMutex() {
    static std::mutex mutex;
    return mutex;
}

HandleTables& tables() {
    static HandleTables instance;
    return instance;
}

}  // namespace

HCRYPTPROV HandleTables::addContext(Context context) {
    const HCRYPTPROV handle = next_++;
    contexts_.emplace(handle, std::move(context));
    return handle;
}

Context& HandleTables::context(HCRYPTPROV handle) {
    const auto it = contexts_.find(handle);
    if (it == contexts_.end()) {
        throw CspError(NTE_BAD_UID);
    }
    return it->second;
}

void HandleTables::releaseContext(HCRYPTPROV handle) {
    context(handle);
    std::erase_if(keys_, [&](const auto& entry) { return entry.second.context == handle; });
    std::erase_if(hashes_, [&](const auto& entry) { return entry.second.context == handle; });
    contexts_.erase(handle);
}

HCRYPTKEY HandleTables::addKey(KeyRef key) {
    const HCRYPTKEY handle = next_++;
    keys_.emplace(handle, key);
    return handle;
}

KeyRef& HandleTables::key(HCRYPTPROV context, HCRYPTKEY handle) {
    this->context(context);
    const auto it = keys_.find(handle);
    if (it == keys_.end() || it->second.context != context) {
        throw CspError(NTE_BAD_KEY);
    }
    return it->second;
}

void HandleTables::destroyKey(HCRYPTPROV context, HCRYPTKEY handle) {
    key(context, handle);
    keys_.erase(handle);
}

HCRYPTHASH HandleTables::addHash(HashRef hash) {
    const HCRYPTHASH handle = next_++;
    hashes_.emplace(handle, std::move(hash));
    return handle;
}

HashRef& HandleTables::hash(HCRYPTPROV context, HCRYPTHASH handle) {
    this->context(context);
    const auto it = hashes_.find(handle);
    if (it == hashes_.end() || it->second.context != context) {
        throw CspError(NTE_BAD_HASH);
    }
    return it->second;
}

void HandleTables::destroyHash(HCRYPTPROV context, HCRYPTHASH handle) {
    hash(context, handle);
    hashes_.erase(handle);
}

Call::Call(const char* name, const std::string& arguments, StoreChecks checks)
    : lock_(moduleMutex()), store_(softkey::Store::fromEnvironment()), name_(name) {
    if (checks == StoreChecks::no) {
        return;
    }
    const softkey::CallSwitches switches = softkey::readCallSwitches(store_);
    tracing_ = switches.tracing;
    if (tracing_) {
        store_.appendLine(softkey::kTraceFile,
                          arguments.empty() ? name : std::string(name) + " " + arguments);
    }
    const softkey::Faults& faults = switches.faults;
    store_.setFailWrites(faults.failWrites);
    if (faults.fail.count(name) == 0) {
        return;
    }
    if (const auto status = softkey::takeFailure(store_, name)) {
        throw CspError(static_cast<std::int32_t>(*status));
    }
}

void Call::note(const std::string& text) {
    if (tracing_) {
        store_.appendLine(softkey::kTraceFile, name_ + " " + text);
    }
}

HandleTables& Call::handles() noexcept {
    return tables();
}

void setLastErrorFromException() noexcept {
    try {
        throw;
    } catch (const CspError& e) {
        SetLastError(static_cast<DWORD>(e.code));
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(NTE_NO_MEMORY));
    } catch (...) {
        SetLastError(static_cast<DWORD>(NTE_FAIL));
    }
}

std::shared_ptr<LoadedKey> loadKey(const softkey::Store& store, const std::string& container,
                                   DWORD keySpec) {
    const auto record = softkey::csp::readContainer(store, container);
    if (!record) {
        throw CspError(NTE_BAD_KEYSET);
    }
    const auto* slot = record->slot(keySpec);
    if (slot == nullptr || !slot->has_value()) {
        return nullptr;
    }
    auto key = std::make_shared<LoadedKey>();
    key->pair = loadPrivateKey((*slot)->privatePem);
    if ((*slot)->certificatePem) {
        const std::string& pem = *(*slot)->certificatePem;
        BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        X509Ptr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                : nullptr);
        if (certificate) {
            unsigned char* der = nullptr;
            const int size = i2d_X509(certificate.get(), &der);
            if (size > 0) {
                OpensslBytesPtr owned(der);
                key->certificate = Bytes(der, der + size);
            }
        }
    }
    return key;
}

void fillBuffer(std::span<const std::uint8_t> data, BYTE* buffer, DWORD* size) {
    if (size == nullptr) {
        throw CspError(ERROR_INVALID_PARAMETER);
    }
    if (data.size() > 0xFFFFFFFFu) {
        throw CspError(NTE_BAD_LEN);
    }
    const DWORD needed = static_cast<DWORD>(data.size());
    if (buffer == nullptr) {
        *size = needed;
        return;
    }
    if (*size < needed) {
        *size = needed;
        throw CspError(ERROR_MORE_DATA);
    }
    if (!data.empty()) {
        std::memcpy(buffer, data.data(), data.size());
    }
    *size = needed;
}

std::string hexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace orva::qzcore3
