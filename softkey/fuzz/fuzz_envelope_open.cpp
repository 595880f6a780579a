// Opening an envelope on the key (the software key's import of an encryption
// key pair): a bank's envelope, sealed once per run for each signature key
// and algorithm word, is edited as the input says, or the parts are the
// input's own. Whatever comes, the key opens it to exactly the sealed key
// pair or refuses it with a CryptoError. Input: see README.md.

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "envelope.h"
#include "input_reader.h"
#include "key_crypto.h"
#include "orva/openssl_ptr.h"

namespace {

using orva::fuzz::check;
using orva::fuzz::InputReader;
using namespace orva::softkey;

constexpr std::array<std::uint32_t, 3> kWords = {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc, 209};
constexpr std::array<std::uint32_t, 2> kSignatureAlgorithms = {kAlgSm2, kAlgRsa};

// The signature keys, the key pair a bank seals for them, and one envelope per
// signature key and known word.
struct Fixture {
    std::array<SecureString, 2> signatureKeys;
    SecureString sealedKey;
    std::array<std::array<Envelope, 2>, 2> envelopes;

    Fixture() {
        sealedKey = generateKeyPair(kAlgSm2).privatePem;
        for (std::size_t k = 0; k < signatureKeys.size(); ++k) {
            signatureKeys[k] = generateKeyPair(kSignatureAlgorithms[k]).privatePem;
            const std::string publicPem = publicKeyPem(signatureKeys[k]);
            for (std::size_t w = 0; w < 2; ++w) {
                envelopes[k][w] = sealEnvelope(publicPem, kWords[w], sealedKey);
            }
        }
    }
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

orva::EvpPkeyPtr keyOf(const SecureString& pem) {
    orva::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return orva::EvpPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// Up to 8 edits of a part: an offset (modulo its size plus one, so a byte may
// be appended) and a byte to put there; offset 0xFFFF cuts the part instead.
void edit(InputReader& in, Bytes& part) {
    for (std::size_t n = in.pick(9); n > 0; --n) {
        const auto at = in.number<std::uint16_t>();
        const std::uint8_t value = in.byte();
        if (at == 0xFFFF) {
            part.resize(value % (part.size() + 1));
        } else if (const std::size_t i = at % (part.size() + 1); i == part.size()) {
            part.push_back(value);
        } else {
            part[i] = value;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Fixture& f = fixture();
    InputReader in(data, size);
    const std::uint8_t choice = in.byte();
    const std::size_t key = choice & 1;
    const std::size_t word = (choice >> 1) % kWords.size();
    const bool ownFields = (choice & 0x80) != 0;

    Envelope envelope;
    if (ownFields) {
        for (Bytes* part : {&envelope.sessionKey, &envelope.keyPair, &envelope.keyBits}) {
            const std::string_view bytes = in.bytes(in.number<std::uint16_t>() % 1024);
            part->assign(bytes.begin(), bytes.end());
        }
    } else {
        envelope = f.envelopes[key][word < 2 ? word : 0];
        for (Bytes* part : {&envelope.sessionKey, &envelope.keyPair, &envelope.keyBits}) {
            edit(in, *part);
        }
    }

    SecureString opened;
    try {
        opened = openEnvelope(f.signatureKeys[key], kWords[word], envelope.sessionKey,
                              envelope.keyPair, envelope.keyBits);
    } catch (const CryptoError&) {
        return 0;
    }
    // Only the sealed pair opens, and only with the word it was sealed with.
    check(word < 2);
    const orva::EvpPkeyPtr got = keyOf(opened);
    const orva::EvpPkeyPtr sealed = keyOf(f.sealedKey);
    check(got != nullptr && sealed != nullptr && EVP_PKEY_eq(got.get(), sealed.get()) == 1);
    return 0;
}
