// The certificates Pelnor made known to the system.

#include "certificates.h"
#include "json.h"
#include "registrations.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

std::string subjectOf(const Bytes& der) {
    try {
        const X509Ptr cert = certificateFromDer(der);
        return subjectText(X509_get_subject_name(cert.get()));
    } catch (const Failure&) {
        return "(not a certificate)";
    }
}

}  // namespace

int runRegistered(Invocation& in) {
    const std::vector<pelnor::Registration> list = pelnor::readRegistrations(in.store());
    if (in.has("json")) {
        json::Ptr doc = json::array();
        for (const pelnor::Registration& r : list) {
            json::Ptr o = json::object();
            json::addString(o.get(), "subject", subjectOf(r.certificate));
            json::addString(o.get(), "container", r.container);
            json::addString(o.get(), "provider", r.provider);
            json::addNumber(o.get(), "keySpec", r.keySpec);
            json::addString(o.get(), "certificate", toBase64(r.certificate));
            json::add(doc.get(), nullptr, std::move(o));
        }
        const SecureString text = json::print(doc.get(), true);
        printLine(std::string_view(text.data(), text.size()));
        return 0;
    }
    for (const pelnor::Registration& r : list) {
        printLine(subjectOf(r.certificate) + "\t" + r.container + "\t" + r.provider + "\t" +
                  std::to_string(r.keySpec));
    }
    return 0;
}

}  // namespace orva::softkey::tool
