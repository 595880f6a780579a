// Timing program for QZAPI_GMUsbKeySign (not a test): a 1 KiB transaction
// signed through the export (both calls) with an SM2 and an RSA-2048 key of a
// software key, set against OpenSSL signing the same packet bytes directly; and
// a transaction with a 50 MB attached file, time and peak memory, set against
// reading and base64-encoding that file once.
//
//   usb_key_sign_bench [--rounds N] [--attachment-mb M]

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base64_codec.h"
#include "bench_support.h"
#include "orva/openssl_ptr.h"
#include "orva_api.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::bench::ChildResult;
using orva::bench::inChild;
using orva::bench::run;
using Clock = std::chrono::steady_clock;
using orva::EvpMdCtxPtr;
using orva::EvpPkeyPtr;

constexpr const char* kSerial = "BENCH1";
constexpr const char* kPin = "12345678";
constexpr const char* kSm2Name = "bench-sm2";
constexpr const char* kRsaName = "bench-rsa";
constexpr const char* kDisplay = "Pay 1,024 bytes?";

// A store with one key holding an SM2 and an RSA-2048 signer.
class BenchStore {
  public:
    BenchStore() {
        tool_ = "'" + (orva::bench::ownFolder() / "softkey").string() + "'";
        run(tool_ + " create --sn " + kSerial + " --pin " + kPin);
        run(tool_ + " provision --sn " + kSerial + " --alg sm2 --type 3 --subject 'CN=Bench SM2'" +
            " --name " + kSm2Name);
        run(tool_ + " provision --sn " + kSerial +
            " --alg rsa2048 --type 3 --subject 'CN=Bench RSA' --name " + kRsaName);
        run(tool_ + " user --pin " + kPin);
    }
    const fs::path& root() const noexcept { return folder_.root(); }

    EvpPkeyPtr privateKey(const char* container) const {
        const std::string pem = run(tool_ + " export-key --sn " + kSerial + " --container " +
                                    container + " --slot sign");
        const orva::BioPtr bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
        EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
        if (!key) {
            throw std::runtime_error("cannot read the exported key");
        }
        return key;
    }

  private:
    orva::bench::BenchFolder folder_;
    std::string tool_;
};

using Library = orva::bench::ApiExport<decltype(&QZAPI_GMUsbKeySign)>;

// Both calls of buffer mode; the base64 length.
std::size_t signThroughExport(const Library& api, const char* dn, const char* hash,
                              const std::string& xml, const char* attach) {
    int length = 0;
    int code =
        (*api)(dn, hash, xml.data(), int(xml.size()), attach, kDisplay, "", nullptr, &length);
    if (code != 0) {
        throw std::runtime_error("size query answered " + std::to_string(code));
    }
    std::vector<char> buffer(static_cast<std::size_t>(length));
    code =
        (*api)(dn, hash, xml.data(), int(xml.size()), attach, kDisplay, "", buffer.data(), &length);
    if (code != 0) {
        throw std::runtime_error("signature answered " + std::to_string(code));
    }
    return static_cast<std::size_t>(length);
}

// The packet the key receives for this transaction (binary form, no file).
std::vector<std::uint8_t> binaryPacket(const std::string& xml, const std::string& display) {
    std::vector<std::uint8_t> packet;
    auto element = [&](std::uint8_t tag, std::size_t n) {
        packet.insert(packet.end(), {tag, 0, 0, 0, 0, std::uint8_t(n >> 24), std::uint8_t(n >> 16),
                                     std::uint8_t(n >> 8), std::uint8_t(n)});
    };
    element(0x11, xml.size() + display.size() + 27);
    element(0x21, xml.size());
    packet.insert(packet.end(), xml.begin(), xml.end());
    element(0x23, 0);
    element(0x22, display.size());
    packet.insert(packet.end(), display.begin(), display.end());
    return packet;
}

std::size_t signWithOpenssl(EVP_PKEY* key, bool sm2, const std::vector<std::uint8_t>& data) {
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!ctx ||
        EVP_DigestSignInit(ctx.get(), &pctx, sm2 ? EVP_sm3() : EVP_sha256(), nullptr, key) != 1) {
        throw std::runtime_error("EVP_DigestSignInit failed");
    }
    if (sm2) {
        static const char kId[] = "1234567812345678";
        EVP_PKEY_CTX_set1_id(pctx, kId, sizeof kId - 1);
    }
    std::size_t length = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1) {
        throw std::runtime_error("EVP_DigestSign failed");
    }
    std::vector<std::uint8_t> signature(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1) {
        throw std::runtime_error("EVP_DigestSign failed");
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

long ownPeakKib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20;
    long attachmentMb = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--attachment-mb") == 0) {
            attachmentMb = std::max(1L, std::atol(argv[i + 1]));
        }
    }
    try {
        BenchStore store;
        const std::string xml(1024, 'x');
        const std::vector<std::uint8_t> packet = binaryPacket(xml, kDisplay);
        const EvpPkeyPtr sm2Key = store.privateKey(kSm2Name);
        const EvpPkeyPtr rsaKey = store.privateKey(kRsaName);

        // The attachment, written before the library is loaded so that the
        // children start small.
        const fs::path attachment = store.root() / "attachment.bin";
        {
            std::mt19937_64 random(42);
            std::ofstream out(attachment, std::ios::binary);
            std::vector<std::uint64_t> block(1 << 17);
            for (long written = 0; written < attachmentMb << 20;
                 written += long(block.size() * 8)) {
                for (auto& word : block) {
                    word = random();
                }
                out.write(reinterpret_cast<const char*>(block.data()),
                          std::streamsize(block.size() * 8));
            }
        }
        const long startPeak = ownPeakKib();
        const ChildResult readOnce = inChild([&] {
            const auto text = orva::api::readFileAsBase64(attachment.string());
            if (!text || text->empty()) {
                throw std::runtime_error("cannot read the attachment");
            }
        });

        const Library api("QZAPI_GMUsbKeySign");
        const ChildResult attached = inChild(
            [&] { signThroughExport(api, "Bench RSA", "SHA256", xml, attachment.c_str()); });

        printf("| measurement | per signature |\n|---|---|\n");
        const double sm2Export =
            millisecondsPerRound(rounds, [&] { signThroughExport(api, "Bench SM2", "", xml, ""); });
        const double sm2Bare =
            millisecondsPerRound(rounds * 10, [&] { signWithOpenssl(sm2Key.get(), true, packet); });
        const double rsaExport = millisecondsPerRound(
            rounds, [&] { signThroughExport(api, "Bench RSA", "SHA256", xml, ""); });
        const double rsaBare = millisecondsPerRound(
            rounds * 10, [&] { signWithOpenssl(rsaKey.get(), false, packet); });
        printf("| SM2, 1 KiB, export (both calls) | %.2f ms |\n", sm2Export);
        printf("| SM2, same packet, bare OpenSSL | %.3f ms |\n", sm2Bare);
        printf("| RSA-2048 SHA-256, 1 KiB, export (both calls) | %.2f ms |\n", rsaExport);
        printf("| RSA-2048 SHA-256, same packet, bare OpenSSL | %.3f ms |\n", rsaBare);
        printf("\n| %ld MB attachment (RSA-2048) | time | peak memory |\n|---|---|---|\n",
               attachmentMb);
        printf("| export, both calls | %.2f s | %.0f MiB |\n", attached.seconds,
               double(attached.peakKib) / 1024);
        printf("| read and base64-encode once | %.2f s | %.0f MiB |\n", readOnce.seconds,
               double(readOnce.peakKib) / 1024);
        printf(
            "\n(rounds: %d export, %d OpenSSL; the process was at %.0f MiB before the "
            "children started)\n",
            rounds, rounds * 10, double(startPeak) / 1024);
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "usb_key_sign_bench: %s\n", e.what());
        return 1;
    }
}
