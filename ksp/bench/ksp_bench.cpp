// Timing program for the key storage provider (not a test): an RSA-2048
// PKCS#1 signature and a P-256 signature through the router stand-in's table
// (QZKSP over qzcore3), set against OpenSSL signing the same hash with the
// same private key, in the same run.
//
//   ksp_bench [--rounds N]

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "csp_containers.h"
#include "orva/openssl_ptr.h"
#include "router.h"
#include "store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace orva::cng;

// Microseconds per call, best of three runs of rounds calls.
double timePerCall(int rounds, const std::function<void()>& call) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            call();
        }
        const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
        best = std::min(best, spent.count() / rounds);
    }
    return best;
}

orva::EvpPkeyPtr privateKey(const std::string& name) {
    const auto container =
        orva::softkey::csp::readContainer(orva::softkey::Store::fromEnvironment(), name);
    if (!container || !container->signature) {
        throw std::runtime_error("no key in container " + name);
    }
    const auto& pem = container->signature->privatePem;
    orva::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return orva::EvpPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

void bareSign(EVP_PKEY* key, bool rsa, const Bytes& hash) {
    orva::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    unsigned char signature[512];
    std::size_t size = sizeof signature;
    if (EVP_PKEY_sign_init(ctx.get()) != 1 ||
        (rsa && (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
                 EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1)) ||
        EVP_PKEY_sign(ctx.get(), signature, &size, hash.data(), hash.size()) != 1) {
        throw std::runtime_error("OpenSSL signing failed");
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        int rounds = 300;
        for (int i = 1; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--rounds") == 0) {
                rounds = std::max(1, std::atoi(argv[i + 1]));
            }
        }
        char folder[] = "/tmp/ksp_bench_XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        const fs::path dir(folder);
        const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
        std::ofstream(dir / "registry.reg")
            << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
               "Provider\\Korvane CSP ORVA V1.0]\n\"Image Path\"=\""
            << (bin / "qzcore3.so").string() << "\"\n";
        setenv("ORVA_REGISTRY", (dir / "registry.reg").c_str(), 1);
        setenv("ORVA_SOFTKEY_DIR", (dir / "store").c_str(), 1);

        const KspRouter router((bin / "QZKSP#Korvane CSP ORVA V1.0.so").string());
        const Provider provider(router);
        const Bytes hash(32, 0x42);
        struct Case {
            const char* what;
            const char16_t* name;
            const char16_t* algorithm;
            bool rsa;
        };
        std::printf("%d calls per run, best of 3 runs, microseconds per signature\n", rounds);
        for (const Case& c : {Case{"RSA-2048 PKCS#1 SHA-256", u"bench-rsa", u"RSA", true},
                              Case{"ECDSA P-256 SHA-256", u"bench-ec", u"ECDSA_P256", false}}) {
            std::optional<Key> key;
            if (createKey(provider, c.name, {c.algorithm, std::nullopt, 0, 0}, key) != 0) {
                throw std::runtime_error("cannot create a key");
            }
            const orva::EvpPkeyPtr bare = privateKey(narrow(c.name));
            const auto& t = provider.table();
            const DWORD flags = c.rsa ? BCRYPT_PAD_PKCS1 : 0;
            const double throughTable = timePerCall(rounds, [&] {
                BYTE signature[512];
                DWORD size = 0;
                if (t.SignHash(provider.handle(), key->handle(), nullptr,
                               const_cast<PBYTE>(hash.data()), 32, signature, sizeof signature,
                               &size, flags) != 0) {
                    throw std::runtime_error("SignHash failed");
                }
            });
            const double bareOpenssl =
                timePerCall(rounds, [&] { bareSign(bare.get(), c.rsa, hash); });
            std::printf("%-26s provider %8.1f   bare OpenSSL %8.1f   ratio %.2f\n", c.what,
                        throughTable, bareOpenssl, throughTable / bareOpenssl);
        }
        fs::remove_all(dir);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ksp_bench: %s\n", e.what());
        return 1;
    }
}
