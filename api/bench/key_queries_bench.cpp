// Timing program for the query exports (not a test): a software key full of
// containers (8 SM2 signers with encryption certificates and 8 RSA-2048
// signers) listed through each export, both calls, set against
// QZAPI_GetDevSN, which opens the key and reads one value.
//
//   key_queries_bench [--rounds N]

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orva_api.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using TextExport = int (*)(char*, int*);

constexpr const char* kSerial = "BENCH2";
constexpr int kPairs = 8;

// The listing export with its filter, as a text export.
decltype(&QZAPI_GMGetPubkeyInfo) pubkeyInfo = nullptr;
int allPubKeys(char* buffer, int* length) {
    return pubkeyInfo("AllPubKey", buffer, length);
}

fs::path ownFolder() {
    return fs::canonical("/proc/self/exe").parent_path();
}

void mustRun(const std::string& command) {
    if (std::system((command + " > /dev/null").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

// Both calls of a text export; the text's length.
int listed(TextExport call) {
    int length = 0;
    if (call(nullptr, &length) != 0) {
        throw std::runtime_error("size query failed");
    }
    std::vector<char> buffer(static_cast<std::size_t>(length));
    if (const int code = call(buffer.data(), &length); code != 0) {
        throw std::runtime_error("export answered " + std::to_string(code));
    }
    return length;
}

double millisecondsPerRound(int rounds, const std::function<void()>& work) {
    work();  // warm-up
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        work();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
}

int run(int rounds) {
    std::string pattern = (fs::temp_directory_path() / "orva-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    const fs::path root = pattern;
    setenv("ORVA_SOFTKEY_DIR", (root / "store").c_str(), 1);
    setenv("ORVA_REGISTRY", (root / "registry.reg").c_str(), 1);
    const std::string tool = "'" + (ownFolder() / "softkey").string() + "' ";
    mustRun(tool + "create --sn " + kSerial);
    for (int i = 0; i < kPairs; ++i) {
        const std::string n = std::to_string(i);
        mustRun(tool + "provision --sn " + kSerial + " --alg sm2 --type 3 --with-exchange" +
                " --subject 'CN=Bench SM2 " + n + ",O=Bank'");
        mustRun(tool + "provision --sn " + kSerial + " --alg rsa2048 --type 2" +
                " --subject 'CN=Bench RSA " + n + ",O=Bank'");
    }

    HMODULE api = LoadLibraryA((ownFolder() / "ORVA_API.dll").c_str());
    if (api == nullptr) {
        throw std::runtime_error("cannot load ORVA_API");
    }
    const auto text = [&](const char* name) {
        return reinterpret_cast<TextExport>(GetProcAddress(api, name));
    };
    pubkeyInfo = reinterpret_cast<decltype(&QZAPI_GMGetPubkeyInfo)>(
        GetProcAddress(api, "QZAPI_GMGetPubkeyInfo"));
    const struct {
        const char* what;
        std::function<int()> call;
    } rows[] = {
        {"GetDevSN (one value)", [&] { return listed(text("QZAPI_GetDevSN")); }},
        {"GMGetCertDN (24 subjects)", [&] { return listed(text("QZAPI_GMGetCertDN")); }},
        {"GMGetPKCS7 (24 certificates)", [&] { return listed(text("QZAPI_GMGetPKCS7")); }},
        {"GMGetPubkeyInfo AllPubKey (16 keys)", [&] { return listed(allPubKeys); }},
        {"GetPublicKeyC (16 enciphered keys)", [&] { return listed(text("QZAPI_GetPublicKeyC")); }},
    };
    printf("%-40s %12s %10s\n", "export, both calls", "ms per call", "characters");
    for (const auto& row : rows) {
        int characters = 0;
        const double ms = millisecondsPerRound(rounds, [&] { characters = row.call(); });
        printf("%-40s %12.2f %10d\n", row.what, ms, characters);
    }
    FreeLibrary(api);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 50;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) {
        rounds = std::atoi(argv[2]);
    } else if (argc != 1) {
        fprintf(stderr, "usage: key_queries_bench [--rounds N]\n");
        return 2;
    }
    try {
        return run(rounds > 0 ? rounds : 1);
    } catch (const std::exception& e) {
        fprintf(stderr, "key_queries_bench: %s\n", e.what());
        return 1;
    }
}
