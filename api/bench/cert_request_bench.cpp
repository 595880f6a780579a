// Timing program for QZAPI_GMCreatePKCS10 (not a test): one SM2 request and
// one RSA-2048 request through the export (the size query and the call), set
// against the bare OpenSSL work they hold: a key pair generated and one
// signature over a request-sized text.
//
//   cert_request_bench [--rounds N]
//
// Each round starts from an empty key (remade outside the timing), since every
// request leaves a new container on it.

#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "orva/openssl_ptr.h"
#include "orva_api.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSerial = "BENCH1";
constexpr const char* kPin = "12345678";
constexpr const char* kSm2Request =
    "DN(CN=Bench SM2,OU=Unit,O=Bank)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)";
constexpr const char* kRsaRequest =
    "DN(CN=Bench RSA,OU=Unit,O=Bank)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(01)";

void run(const std::string& command) {
    if (std::system((command + " >/dev/null").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

class BenchStore {
  public:
    BenchStore() {
        tool_ = "'" + (orva::bench::ownFolder() / "softkey").string() + "'";
        run(tool_ + " create --sn " + kSerial + " --pin " + kPin);
        run(tool_ + " user --pin " + kPin);
    }

    void emptyKey() const {
        run(tool_ + " delete " + kSerial);
        run(tool_ + " create --sn " + kSerial + " --pin " + kPin);
    }

  private:
    orva::bench::BenchFolder folder_;
    std::string tool_;
};

using Library = orva::bench::ApiExport<decltype(&QZAPI_GMCreatePKCS10)>;

void createThroughExport(const Library& api, const char* description) {
    int length = 0;
    if (const int code = (*api)(description, nullptr, &length); code != 0) {
        throw std::runtime_error("size query answered " + std::to_string(code));
    }
    std::vector<char> buffer(static_cast<std::size_t>(length));
    if (const int code = (*api)(description, buffer.data(), &length); code != 0) {
        throw std::runtime_error("request answered " + std::to_string(code));
    }
}

// A new key pair and one signature over a request-sized text, as OpenSSL
// does them without the key.
void bareWork(bool sm2) {
    const std::vector<std::uint8_t> tbs(sm2 ? 150 : 420, 0x5A);
    orva::EvpPkeyPtr key(sm2 ? EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2")
                             : EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", std::size_t{2048}));
    orva::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!key || !ctx ||
        EVP_DigestSignInit(ctx.get(), &pctx, sm2 ? EVP_sm3() : EVP_sha256(), nullptr, key.get()) !=
            1) {
        throw std::runtime_error("EVP_DigestSignInit failed");
    }
    if (sm2) {
        static const char kId[] = "1234567812345678";
        EVP_PKEY_CTX_set1_id(pctx, kId, sizeof kId - 1);
    }
    std::vector<std::uint8_t> signature(EVP_PKEY_get_size(key.get()));
    std::size_t length = signature.size();
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, tbs.data(), tbs.size()) != 1) {
        throw std::runtime_error("EVP_DigestSign failed");
    }
}

struct Timing {
    double median = 0;
    double mean = 0;
};

// Milliseconds of work per round; prepare runs untimed before each.
Timing measure(int rounds, const std::function<void()>& prepare,
               const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (const double m : ms) {
        sum += m;
    }
    return {ms[ms.size() / 2], sum / static_cast<double>(ms.size())};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    try {
        const BenchStore store;
        const Library api("QZAPI_GMCreatePKCS10");
        const auto reset = [&] { store.emptyKey(); };
        const auto nothing = [] {};
        createThroughExport(api, kSm2Request);  // warm-up
        const Timing sm2Export =
            measure(rounds, reset, [&] { createThroughExport(api, kSm2Request); });
        const Timing sm2Bare = measure(rounds, nothing, [] { bareWork(true); });
        const Timing rsaExport =
            measure(rounds, reset, [&] { createThroughExport(api, kRsaRequest); });
        const Timing rsaBare = measure(rounds, nothing, [] { bareWork(false); });
        printf("| one request | median | mean |\n|---|---|---|\n");
        printf("| SM2 through the export (both calls) | %.2f ms | %.2f ms |\n", sm2Export.median,
               sm2Export.mean);
        printf("| SM2 bare OpenSSL (key pair + signature) | %.2f ms | %.2f ms |\n", sm2Bare.median,
               sm2Bare.mean);
        printf("| RSA-2048 through the export (both calls) | %.1f ms | %.1f ms |\n",
               rsaExport.median, rsaExport.mean);
        printf("| RSA-2048 bare OpenSSL (key pair + signature) | %.1f ms | %.1f ms |\n",
               rsaBare.median, rsaBare.mean);
        printf("\n(%d rounds each)\n", rounds);
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "cert_request_bench: %s\n", e.what());
        return 1;
    }
}
