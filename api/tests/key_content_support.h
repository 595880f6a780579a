#pragma once

// What the query and deletion tests share: a key whose containers hold
// signature and exchange keys, RSA and SM2, with and without certificates
// (provisioned once per test program by the softkey tool), and certificates
// restamped with a chosen validity.

#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

#include "signing_support.h"
#include "test_environment.h"
#include "win32/event.h"

namespace orva::api::test {

// Containers of the content key, in enumeration order, with their public-key
// file ids.
inline constexpr const char* kZhangSm2 = "sm2-zhang";      // type 3; signature 02, exchange 04
inline constexpr const char* kLiRsa2048 = "rsa2048-li";    // type 2; 06
inline constexpr const char* kWangType4 = "rsa1024-wang";  // type 4; 08
inline constexpr const char* kRequestSm2 = "sm2-request";  // type 3; 10, no certificate
// Type 3: a certified RSA signature key (12), an SM2 exchange key without its
// certificate (14); same subject as kZhangSm2.
inline constexpr const char* kZhangMixed = "rsa1024-zhang-mixed";

// The content key as provisioned.
const softkey::Token& contentKey();
// Plugs it in as "SN1" with the named containers only (all when none are
// named), and scripts a user who types kTestPin.
void plugContentKey(TestEnvironment& env, std::initializer_list<const char*> containers = {});
// The index of a container of the content key.
std::uint32_t contentIndex(const char* container);

// Standard base64, by OpenSSL.
std::string base64Of(std::span<const std::uint8_t> bytes);

// A copy of a certificate with another notAfter ("YYYYMMDDHHMMSSZ"; an
// unreadable time when empty), re-signed by a throwaway key.
ByteString restamped(const ByteString& certificate, const std::string& notAfter);
// notAfter text for now plus some seconds (negative: in the past).
std::string timeFromNow(long seconds);

// The library's status-change event, made (or opened) by its name; closed
// when it goes.
struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;
inline Event statusChangeEvent() {
    return Event(CreateEventA(nullptr, FALSE, FALSE,
                              "ZEDIDUzaZavi_Status_Change_Event_Korvane CSP ORVA V1.0"));
}

}  // namespace orva::api::test
