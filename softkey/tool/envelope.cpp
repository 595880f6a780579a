// The envelope a bank's server sends to install an encryption key pair: a new
// SM2 key pair sealed to a container's signature key, with its certificate, in
// the text a page hands to the install call:
//   base64(certificate DER) || "00" or "01" || base64(A) || base64(B) || base64(C)
// "01" selects algorithm word 210 (SM4-CBC), anything else 208 (SM4-ECB).

#include "envelope.h"
#include "certificates.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

constexpr const char* kFieldSeparator = "||";

// The encryption certificate's subject: as asked, else the signature
// certificate's, else the container's name.
X509NamePtr envelopeSubject(Invocation& in, const Container& c) {
    if (const auto text = in.value("subject")) {
        return parseSubject(*text);
    }
    if (!c.signature.certificate.empty()) {
        try {
            const X509Ptr cert = certificateFromDer(c.signature.certificate);
            X509NamePtr name(X509_NAME_dup(X509_get_subject_name(cert.get())));
            if (name == nullptr) {
                throw std::bad_alloc();
            }
            return name;
        } catch (const Failure&) {
            // not a certificate: fall back to the name
        }
    }
    X509NamePtr name(X509_NAME_new());
    if (name == nullptr ||
        X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(c.name.data()),
                                   static_cast<int>(c.name.size()), -1, 0) != 1) {
        throw Failure("cannot make a subject from the container name");
    }
    return name;
}

}  // namespace

int runEnvelope(Invocation& in) {
    const std::string serial = chosenSerial(in);
    const std::string containerArg = in.required("container");
    const std::uint32_t algWord =
        in.has("alg")
            ? (parseChoice(*in.value("alg"), {"208", "210"}, "--alg") == 0 ? kEnvelopeSm4Ecb
                                                                           : kEnvelopeSm4Cbc)
            : kEnvelopeSm4Ecb;
    const std::uint32_t days = in.has("days")
                                   ? parseNumber(*in.value("days"), 1, kMaxCertDays, "--days")
                                   : kDefaultCertDays;

    Store& store = in.store();
    const Token token = store.read(serial);
    const std::uint32_t index = findContainerArg(token, containerArg);
    const Container& c = *findContainer(token, index);
    if (!c.signature.hasKey()) {
        throw Failure("container " + std::to_string(index) +
                      " has no signature key to seal the envelope to");
    }
    const X509NamePtr subject = envelopeSubject(in, c);
    const std::string signaturePublic =
        publicKeyPem(token.keyFiles.at(c.signature.privateFid).privatePem);

    const KeyPair newPair = generateKeyPair(kAlgSm2);
    const Envelope envelope = sealEnvelope(signaturePublic, algWord, newPair.privatePem);
    const TestCa ca = TestCa::open(store);
    const EvpPkeyPtr newPublic = publicKeyFromPem(publicKeyPem(newPair.privatePem));
    const X509Ptr cert = ca.issue(newPublic.get(), subject.get(), CertUse::encryption, days);

    const auto owner = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    if (const auto path = in.value("out-key")) {
        writeFileBytes(
            *path, std::string_view(newPair.privatePem.data(), newPair.privatePem.size()), owner);
    }
    if (const auto path = in.value("out-cert")) {
        writeFileBytes(
            *path, certificatePem(cert.get()),
            owner | std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    }

    std::string text = toBase64(certificateDer(cert.get()));
    text += kFieldSeparator;
    text += algWord == kEnvelopeSm4Cbc ? "01" : "00";
    for (const Bytes* part : {&envelope.sessionKey, &envelope.keyPair, &envelope.keyBits}) {
        text += kFieldSeparator;
        text += toBase64(*part);
    }
    printLine(text);
    return 0;
}

}  // namespace orva::softkey::tool
