// QZAPI_GMWritePKCS7_Enc over a software key with two containers waiting for
// their certificates (SM2 type 3, RSA-1024 type 2). The test CA issued a
// certificate for each, and one for a key that is on no container, once per
// run; the input assembles the page's texts from those and its own bytes.
// The key refuses every certificate write, so the answer alone tells how far
// the texts got: a certificate is installed only into a container of its own
// key, two certificates never into one container, and nothing else reaches
// the key. Input: see README.md.

#include <stdlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base64_codec.h"
#include "certificate_list.h"
#include "input_reader.h"
#include "install_targets.h"
#include "key_envelope.h"
#include "library_lifecycle.h"
#include "orva/testing/support.h"
#include "orva_api.h"
#include "orva_result_codes.h"
#include "server_random.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::fuzz::check;
using orva::fuzz::InputReader;
using namespace orva;
using namespace orva::api;

// The bank's side, in the fixture's folder: NAME.der (a DER certificate in
// base64) and NAME.p7 (a PKCS#7 with the CA certificate first, base64) for
// the two containers and for a key on none; an envelope sealed to the SM2
// container.
constexpr const char* kMakeBank = R"(set -e
softkey() { "$BIN/softkey" --dir softkey "$@"; }
softkey create --sn SN1 --pin 12345678 >/dev/null
softkey ca > ca.pem
issue() {
  openssl req -new -key $1.key -subj /CN=$1 -out $1.csr $2 2>/dev/null
  softkey issue --format der $1.csr | tr -d '\n' > $1.der
  openssl base64 -d -A -in $1.der | openssl x509 -inform DER -out $1.pem
  openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile $1.pem -outform DER | openssl base64 -A > $1.p7
}
request() {
  softkey provision --sn SN1 --no-certificate --name $1 --alg $2 --type $3 >/dev/null
  softkey export-key --sn SN1 --slot sign --container $1 > $1.key
  issue $1 "$4"
}
request sm2 sm2 3 '-sm3 -sigopt distid:1234567812345678'
request rsa rsa1024 2
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out other.key 2>/dev/null
issue other
softkey envelope --sn SN1 --container sm2 | tr -d '\n' > envelope
softkey fault fail QZWriteFileToContainer 0x6A82 >/dev/null
)";

// The pieces a text is assembled from.
enum Piece : std::size_t {
    kSm2Der,
    kSm2P7,
    kRsaDer,
    kRsaP7,
    kOtherDer,
    kOtherP7,
    kEnvelope,
    kPieces
};
constexpr std::array<const char*, kPieces> kPieceFiles = {
    "sm2.der", "sm2.p7", "rsa.der", "rsa.p7", "other.der", "other.p7", "envelope"};
// What a page puts between and around them.
constexpr std::array<std::string_view, 6> kJoiners = {
    "||", "\r\n", " ", ",", "-----BEGIN CERTIFICATE-----\n", "\n-----END CERTIFICATE-----\n"};

class Fixture {
  public:
    Fixture() {
        const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
        setenv("ORVA_SOFTKEY_DIR", (dir_.path() / "softkey").c_str(), 1);
        setenv("ORVA_REGISTRY", (dir_.path() / "registry.reg").c_str(), 1);
        setenv("TMPDIR", dir_.path().c_str(), 1);
        orva::testing::writeFile(dir_.path() / "registry.reg", "REGEDIT4\n");
        setenv("BIN", bin.c_str(), 1);
        const std::string folder = orva::testing::shellQuote(dir_.path().string());
        check(orva::testing::runCommand("cd " + folder + " && bash -c " +
                                        orva::testing::shellQuote(kMakeBank))
                  .status == 0);
        for (std::size_t i = 0; i < kPieces; ++i) {
            pieces_[i] = orva::testing::readText(dir_.path() / kPieceFiles[i]);
        }
        // The containers' keys, in walk order, as their certificates carry them.
        for (const Piece piece : {kSm2Der, kRsaDer}) {
            const std::optional<Bytes> der = base64Decode(pieces_[piece]);
            check(der.has_value());
            const std::optional<Bytes> key = extractCertPublicKey(*der);
            check(key.has_value() && !key->empty());
            containerKeys_.push_back(*key);
        }
        check(processAttach(GetModuleHandleA(nullptr)) == TRUE);
    }

    const std::string& piece(std::size_t i) const { return pieces_[i]; }
    const std::vector<Bytes>& containerKeys() const { return containerKeys_; }

  private:
    orva::testing::TempDir dir_{"orva-fuzz-certificate-install"};
    std::array<std::string, kPieces> pieces_;
    std::vector<Bytes> containerKeys_;
};

// A text of up to 8 parts, each a piece, a joiner or the input's own bytes.
std::string assemble(InputReader& in, const Fixture& fixture) {
    std::string text;
    for (std::size_t n = in.pick(9); n > 0; --n) {
        const std::size_t choice = in.pick(kPieces + kJoiners.size() + 1);
        if (choice < kPieces) {
            text += fixture.piece(choice);
        } else if (choice < kPieces + kJoiners.size()) {
            text += kJoiners[choice - kPieces];
        } else {
            text += in.text(64);
        }
    }
    return text;
}

// What the export must answer with every certificate write refused.
ApiErrorCode expected(const Fixture& fixture, const std::string& certificates,
                      const std::string& envelope, const std::string& random) {
    if (!envelope.empty()) {
        if (!random.empty()) {
            if (const Result<ServerRandom> decoded = decodeServerRandom(random.c_str()); !decoded) {
                return decoded.code();
            }
        }
        if (!parseKeyEnvelope(envelope)) {
            return kInvalidParameter;
        }
    }
    const std::optional<std::vector<Bytes>> list = parseCertificateList(certificates);
    if (!list || list->empty()) {
        return kAnalyzeCertError;
    }
    if (list->size() > 2) {
        return kTooManyCertificates;
    }
    std::vector<bool> taken(fixture.containerKeys().size(), false);
    for (const Bytes& certificate : *list) {
        const std::optional<Bytes> key = extractCertPublicKey(certificate);
        if (!key) {
            return kAnalyzeCertError;
        }
        std::size_t t = 0;
        while (t < taken.size() && (taken[t] || fixture.containerKeys()[t] != *key)) {
            ++t;
        }
        if (t == taken.size()) {
            return kNoMatchPublicKey;
        }
        taken[t] = true;
    }
    // Every certificate found its container: the first write is refused.
    return kWriteCertError;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Fixture fixture;
    InputReader in(data, size);
    const std::string certificates = assemble(in, fixture);
    const std::string envelope = assemble(in, fixture);
    const std::string random(in.text(32));
    const int code =
        QZAPI_GMWritePKCS7_Enc(certificates.c_str(), envelope.empty() ? nullptr : envelope.c_str(),
                               random.empty() ? nullptr : random.c_str());
    check(code == expected(fixture, certificates, envelope, random));
    return 0;
}
