// Input: byte 0 picks the store file (a key, faults.json, a CSP container,
// user.json, registered.json); the rest is its text. What parses writes back
// to a text that parses to the same thing; anything else is refused with the
// store's own errors.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "csp_containers.h"
#include "faults.h"
#include "registrations.h"
#include "store.h"
#include "token.h"
#include "user.h"

namespace softkey = orva::softkey;

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// One store for the whole run, removed at exit.
const softkey::Store& store() {
    static const std::filesystem::path root = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orva-fuzz-store-XXXXXX").string();
        check(::mkdtemp(pattern.data()) != nullptr);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        });
        return std::filesystem::path(pattern);
    }();
    static const softkey::Store instance(root);
    return instance;
}

void put(std::string_view name, std::string_view text) {
    std::ofstream(store().file(name), std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

void keyFile(std::string_view text) {
    softkey::Token token;
    try {
        token = softkey::tokenFromJson(text);
    } catch (const softkey::TokenError&) {
        return;
    }
    const softkey::SecureString written = softkey::tokenToJson(token);
    const softkey::Token again =
        softkey::tokenFromJson(std::string_view(written.data(), written.size()));
    check(softkey::tokenToJson(again) == written);
}

void faultsFile(std::string_view text) {
    softkey::Faults faults;
    try {
        faults = softkey::faultsFromJson(text);
    } catch (const softkey::StoreError&) {
        return;
    }
    const std::string written = softkey::faultsToJson(faults);
    check(softkey::faultsToJson(softkey::faultsFromJson(written)) == written);
}

void containerFile(std::string_view text) {
    softkey::csp::Container container;
    try {
        container = softkey::csp::containerFromJson(text);
    } catch (const softkey::StoreError&) {
        return;
    }
    const std::string written = softkey::csp::containerToJson(container);
    check(softkey::csp::containerToJson(softkey::csp::containerFromJson(written)) == written);
}

void userFile(std::string_view text) {
    put("user.json", text);
    try {
        softkey::scriptedUser(store(), "SK1");
    } catch (const softkey::StoreError& e) {
        check(e.kind == softkey::StoreErrorKind::malformed);
    }
}

void registeredFile(std::string_view text) {
    put(orva::pelnor::kRegisteredFile, text);
    try {
        for (const auto& registration : orva::pelnor::readRegistrations(store())) {
            check(!registration.certificate.empty());
        }
    } catch (const softkey::StoreError& e) {
        check(e.kind == softkey::StoreErrorKind::malformed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 5) {
        case 0:
            keyFile(text);
            break;
        case 1:
            faultsFile(text);
            break;
        case 2:
            containerFile(text);
            break;
        case 3:
            userFile(text);
            break;
        default:
            registeredFile(text);
            break;
    }
    return 0;
}
