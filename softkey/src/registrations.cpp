#include "registrations.h"

#include <algorithm>

#include "json.h"

namespace orva::pelnor {

namespace {

[[noreturn]] void malformed(const std::string& what) {
    throw softkey::StoreError(softkey::StoreErrorKind::malformed,
                              std::string(kRegisteredFile) + ": " + what);
}

std::vector<Registration> parse(const std::string& text) {
    const softkey::json::Ptr doc = softkey::json::parse(text);
    const cJSON* list = softkey::json::member(doc.get(), "registrations");
    if (!cJSON_IsArray(list)) {
        malformed("no registrations list");
    }
    std::vector<Registration> out;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
        const auto certificate = softkey::json::string(item, "certificate");
        const auto provider = softkey::json::string(item, "provider");
        const auto container = softkey::json::string(item, "container");
        const auto keySpec = softkey::json::uint(item, "keySpec");
        auto der = certificate ? softkey::fromBase64(*certificate) : std::nullopt;
        if (!der || der->empty() || !provider || !container || !keySpec) {
            malformed("a registration is incomplete");
        }
        out.push_back(Registration{std::move(*der), std::string(*provider), std::string(*container),
                                   *keySpec});
    }
    return out;
}

std::string print(const std::vector<Registration>& registrations) {
    softkey::json::Ptr doc = softkey::json::object();
    cJSON* list = softkey::json::add(doc.get(), "registrations", softkey::json::array());
    for (const Registration& r : registrations) {
        softkey::json::Ptr o = softkey::json::object();
        softkey::json::addString(o.get(), "certificate", softkey::toBase64(r.certificate));
        softkey::json::addString(o.get(), "provider", r.provider);
        softkey::json::addString(o.get(), "container", r.container);
        softkey::json::addNumber(o.get(), "keySpec", r.keySpec);
        softkey::json::add(list, nullptr, std::move(o));
    }
    const softkey::SecureString text = softkey::json::print(doc.get(), true);
    return std::string(text.data(), text.size()) + "\n";
}

}  // namespace

std::vector<Registration> readRegistrations(const softkey::Store& store) {
    const auto text = store.readText(kRegisteredFile);
    return text ? parse(*text) : std::vector<Registration>{};
}

void registerCertificate(softkey::Store& store, const Registration& registration) {
    store.modifyText(kRegisteredFile, true, [&](std::optional<std::string> current) {
        std::vector<Registration> list = current ? parse(*current) : std::vector<Registration>{};
        std::erase_if(
            list, [&](const Registration& r) { return r.certificate == registration.certificate; });
        list.push_back(registration);
        return std::optional<std::string>(print(list));
    });
}

bool unregisterCertificate(softkey::Store& store, std::span<const std::uint8_t> certificate) {
    bool found = false;
    store.modifyText(kRegisteredFile, true, [&](std::optional<std::string> current) {
        if (!current) {
            return current;
        }
        std::vector<Registration> list = parse(*current);
        found = std::erase_if(list, [&](const Registration& r) {
                    return std::equal(r.certificate.begin(), r.certificate.end(),
                                      certificate.begin(), certificate.end());
                }) > 0;
        return found ? std::optional<std::string>(print(list)) : current;
    });
    return found;
}

}  // namespace orva::pelnor
