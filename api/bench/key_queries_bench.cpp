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
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "orva_api.h"

namespace {

using orva::bench::ApiExport;
using TextExport = int (*)(char*, int*);

constexpr const char* kSerial = "BENCH2";
constexpr int kPairs = 8;

void mustRun(const std::string& command) {
    if (std::system((command + " > /dev/null").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

// Both calls of a text export; the text's length.
int listed(const std::function<int(char*, int*)>& call) {
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

int run(int rounds) {
    const orva::bench::BenchFolder folder;
    const std::string tool = "'" + (orva::bench::ownFolder() / "softkey").string() + "' ";
    mustRun(tool + "create --sn " + kSerial);
    for (int i = 0; i < kPairs; ++i) {
        const std::string n = std::to_string(i);
        mustRun(tool + "provision --sn " + kSerial + " --alg sm2 --type 3 --with-exchange" +
                " --subject 'CN=Bench SM2 " + n + ",O=Bank'");
        mustRun(tool + "provision --sn " + kSerial + " --alg rsa2048 --type 2" +
                " --subject 'CN=Bench RSA " + n + ",O=Bank'");
    }
    const ApiExport<TextExport> devSn("QZAPI_GetDevSN");
    const ApiExport<TextExport> certDn("QZAPI_GMGetCertDN");
    const ApiExport<TextExport> pkcs7("QZAPI_GMGetPKCS7");
    const ApiExport<decltype(&QZAPI_GMGetPubkeyInfo)> pubkeyInfo("QZAPI_GMGetPubkeyInfo");
    const ApiExport<TextExport> publicKeyC("QZAPI_GetPublicKeyC");
    const struct {
        const char* what;
        std::function<int(char*, int*)> call;
    } rows[] = {
        {"GetDevSN (one value)", *devSn},
        {"GMGetCertDN (24 subjects)", *certDn},
        {"GMGetPKCS7 (24 certificates)", *pkcs7},
        {"GMGetPubkeyInfo AllPubKey (16 keys)",
         [&](char* b, int* l) { return (*pubkeyInfo)("AllPubKey", b, l); }},
        {"GetPublicKeyC (16 enciphered keys)", *publicKeyC},
    };
    printf("%-40s %12s %10s\n", "export, both calls", "ms per call", "characters");
    for (const auto& row : rows) {
        int characters = listed(row.call);  // warm-up
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            characters = listed(row.call);
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count() /
            rounds;
        printf("%-40s %12.2f %10d\n", row.what, ms, characters);
    }
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
