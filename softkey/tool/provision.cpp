// A container as a bank leaves it on a key, and what tests take back out of
// containers: private keys and certificates.

#include "certificates.h"
#include "key_crypto.h"
#include "maker/dravik.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

struct IssuedPair {
    KeyPair pair;
    Bytes certificate;
};

// Without a subject the pair stays without a certificate.
IssuedPair issuedPair(const TestCa* ca, std::uint32_t algId, const X509_NAME* subject, CertUse use,
                      std::uint32_t days) {
    IssuedPair out{generateKeyPair(algId), {}};
    if (subject == nullptr) {
        return out;
    }
    const EvpPkeyPtr publicKey = publicKeyFromPem(publicKeyPem(out.pair.privatePem));
    const X509Ptr cert = ca->issue(publicKey.get(), subject, use, days);
    out.certificate = certificateDer(cert.get());
    return out;
}

// Stores a key pair in the lowest free key files and binds it to a container.
void installPair(Token& t, std::uint32_t index, const IssuedPair& issued, std::uint32_t usage,
                 std::uint32_t algId) {
    const auto fid = freePrivateFid(t);
    if (!fid) {
        throw Failure("key " + t.serial + " has no free key file");
    }
    storeKeyPair(t, *fid, issued.pair.privatePem, issued.pair.publicFile);
    bindKey(t, index, *fid, usage, algId);
    if (!issued.certificate.empty()) {
        setCertificate(t, index, usage == 1 ? DRV_FILE_EXCH_CERT : DRV_FILE_SIGN_CERT,
                       issued.certificate);
    }
}

const KeySlot& chosenSlot(Invocation& in, Token& token) {
    const std::uint32_t index = findContainerArg(token, in.required("container"));
    const std::size_t slot = parseChoice(in.required("slot"), {"sign", "exchange"}, "--slot");
    const Container& c = *findContainer(token, index);
    return slot == 0 ? c.signature : c.exchange;
}

}  // namespace

int runProvision(Invocation& in) {
    const std::string serial = in.required("sn");
    if (!isValidSerial(serial)) {
        throw UsageError("not a valid serial: '" + serial + "'");
    }
    static const std::uint32_t kAlgIds[] = {kAlgSm2, kAlgRsa1024, kAlgRsa2048};
    const std::uint32_t algId =
        kAlgIds[parseChoice(in.required("alg"), {"sm2", "rsa1024", "rsa2048"}, "--alg")];
    const std::uint32_t type = parseNumber(in.required("type"), 2, 4, "--type");
    const bool withCertificate = !in.has("no-certificate");
    if (!withCertificate && (in.has("subject") || in.has("with-exchange") || in.has("days"))) {
        throw UsageError("--no-certificate takes no --subject, --days or --with-exchange");
    }
    const X509NamePtr subject =
        withCertificate ? parseSubject(in.required("subject")) : X509NamePtr();
    const std::string name = in.value("name").value_or(newUuidText());
    if (name.empty() || name.size() > kContainerNameMaxChars) {
        throw UsageError("a container name has 1 to " + std::to_string(kContainerNameMaxChars) +
                         " bytes");
    }
    const std::uint32_t days = in.has("days")
                                   ? parseNumber(*in.value("days"), 1, kMaxCertDays, "--days")
                                   : kDefaultCertDays;

    Store& store = in.store();
    store.read(serial);  // no key: fail before the slow work
    std::optional<TestCa> ca;
    if (withCertificate) {
        ca = TestCa::open(store);
    }
    const IssuedPair signature =
        issuedPair(ca ? &*ca : nullptr, algId, subject.get(), CertUse::signature, days);
    std::optional<IssuedPair> exchange;
    if (in.has("with-exchange")) {
        exchange = issuedPair(&*ca, kAlgSm2, subject.get(), CertUse::encryption, days);
    }

    const std::uint32_t index = store.update(serial, false, [&](Token& t) {
        const std::uint32_t added = addContainer(t, name);
        installPair(t, added, signature, type, algId);
        if (exchange) {
            installPair(t, added, *exchange, 1, kAlgSm2);
        }
        return added;
    });
    printLine(std::to_string(index));
    return 0;
}

int runExportKey(Invocation& in) {
    Token token = in.store().read(chosenSerial(in));
    const KeySlot& slot = chosenSlot(in, token);
    if (!slot.hasKey()) {
        throw Failure("that container has no " + *in.value("slot") + " key");
    }
    const SecureString& pem = token.keyFiles.at(slot.privateFid).privatePem;
    print(std::string_view(pem.data(), pem.size()));
    return 0;
}

int runExportCert(Invocation& in) {
    Token token = in.store().read(chosenSerial(in));
    const KeySlot& slot = chosenSlot(in, token);
    if (slot.certificate.empty()) {
        throw Failure("that container has no " + *in.value("slot") + " certificate");
    }
    const X509Ptr cert = certificateFromDer(slot.certificate);
    print(certificatePem(cert.get()));
    return 0;
}

}  // namespace orva::softkey::tool
