// Timing program for QZAPI_GMWritePKCS7_Enc (not a test): an SM2 certificate
// installed through the export into a software key, alone and with an
// envelope's key pair, set against OpenSSL decoding the same certificate text
// (base64, PKCS#7, X.509) with nothing written. Every round installs into a
// fresh container; making it (key pair, request, certificate, envelope) is not
// timed.
//
//   certificate_install_bench [--rounds N]    (N up to 16, default 10)

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base64_codec.h"
#include "bench_support.h"
#include "orva/openssl_ptr.h"
#include "orva_api.h"
#include "win32/module.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSerial = "BENCH1";
constexpr const char* kPin = "12345678";

// A command's output without its last line break.
std::string runLine(const std::string& command) {
    std::string output = orva::bench::run(command);
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

// A store of its own with one key; each round's container is made on it.
class BenchStore {
  public:
    BenchStore() {
        runLine(tool_ + " create --sn " + kSerial + " --pin " + kPin + " --capacity 255");
        runLine(tool_ + " user --pin " + kPin);
    }

    // A container awaiting its certificate: the certificate (PKCS#7, base64)
    // and an envelope sealed to its key.
    struct Round {
        std::string certificate;
        std::string envelope;
    };
    Round round(int i) const {
        const std::string name = "round-" + std::to_string(i);
        const std::string key = (folder_.root() / (name + ".key")).string();
        const std::string request = (folder_.root() / (name + ".csr")).string();
        runLine(tool_ + " provision --sn " + kSerial +
                " --alg sm2 --type 3 --no-certificate --name " + name);
        runLine(tool_ + " export-key --sn " + kSerial + " --slot sign --container " + name +
                " > '" + key + "'");
        runLine("openssl req -new -key '" + key + "' -subj /CN=" + name + " -out '" + request +
                "' -sm3 -sigopt distid:1234567812345678");
        return {runLine(tool_ + " issue '" + request + "'"),
                runLine(tool_ + " envelope --sn " + kSerial + " --container " + name)};
    }

  private:
    orva::bench::BenchFolder folder_;
    std::string tool_ = "'" + (orva::bench::ownFolder() / "softkey").string() + "'";
};

using Library = orva::bench::ApiExport<decltype(&QZAPI_GMWritePKCS7_Enc)>;

double milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What the parse amounts to without the library: decode the text and the
// PKCS#7, and take its first certificate's DER.
void decodeWithOpenssl(const std::string& base64) {
    const auto der = orva::api::base64Decode(base64);
    const unsigned char* in = der->data();
    const orva::Pkcs7Ptr p7(d2i_PKCS7(nullptr, &in, static_cast<long>(der->size())));
    if (!p7 || i2d_X509(sk_X509_value(p7->d.sign->cert, 0), nullptr) <= 0) {
        throw std::runtime_error("the issued text does not decode");
    }
}

void report(const char* what, std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    printf("%-48s median %8.3f ms   min %8.3f ms   max %8.3f ms\n", what, times[times.size() / 2],
           times.front(), times.back());
}

}  // namespace

int main(int argc, char** argv) {
    // A key holds 49 key pairs: an envelope round takes two, a plain one one.
    constexpr int kMaxRounds = 16;
    int rounds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::clamp(std::atoi(argv[i + 1]), 1, kMaxRounds);
        }
    }
    try {
        const BenchStore store;
        const Library api("QZAPI_GMWritePKCS7_Enc");
        std::vector<double> plain;
        std::vector<double> withEnvelope;
        std::vector<double> bare;
        for (int i = 0; i < 2 * rounds; ++i) {
            const BenchStore::Round round = store.round(i);
            const bool envelope = i % 2 == 1;
            auto start = Clock::now();
            for (int k = 0; k < 100; ++k) {
                decodeWithOpenssl(round.certificate);
            }
            bare.push_back(milliseconds(start) / 100);
            start = Clock::now();
            const int code = (*api)(round.certificate.c_str(),
                                    envelope ? round.envelope.c_str() : nullptr, nullptr);
            (envelope ? withEnvelope : plain).push_back(milliseconds(start));
            if (code != 0) {
                throw std::runtime_error("the export answered " + std::to_string(code));
            }
        }
        printf("%d rounds each\n", rounds);
        report("SM2 certificate through the export", plain);
        report("SM2 certificate and envelope through the export", withEnvelope);
        report("the same text decoded by bare OpenSSL", bare);
    } catch (const std::exception& e) {
        fprintf(stderr, "certificate_install_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
