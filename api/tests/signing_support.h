#pragma once

// What the signing tests share: keys provisioned once per test program by the
// softkey tool, the to-be-signed packet written out from its documented layout,
// the key's display log, and the openssl command line that checks every
// signature.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "test_environment.h"

namespace orva::api::test {

using ByteString = std::vector<std::uint8_t>;

// Containers of the template key, in enumeration order. Names are the
// containers' names, kept when a test takes a subset.
inline constexpr const char* kSm2Type4Zhang = "sm2-type4-zhang";  // type 4: never a signer
inline constexpr const char* kSm2Zhang = "sm2-zhang";             // type 3, binary form
inline constexpr const char* kRsa2048Zhang = "rsa2048-zhang";     // type 3, same subject
inline constexpr const char* kSm2LiText = "sm2-li-text";          // type 2, text form
inline constexpr const char* kRsa2048WangText = "rsa2048-wang-text";
inline constexpr const char* kRsa1024Zhao = "rsa1024-zhao";  // type 3

inline constexpr const char* kZhangSubject = "CN=Zhang San,OU=Unit,O=Bank";
inline constexpr const char* kLiSubject = "CN=Li Si,OU=Unit,O=Bank";
inline constexpr const char* kWangSubject = "CN=Wang Wu,OU=Branch,O=Bank";
inline constexpr const char* kZhaoSubject = "CN=Zhao Liu,OU=Unit,O=Bank";

// Plugs in key "SN1" holding the named containers of the template key (made on
// first use), with kTestPin as its PIN, and scripts a user who types it.
void plugSigningKey(TestEnvironment& env, std::initializer_list<const char*> containers);

// The signature certificate (DER) of a container of the template key.
ByteString signingCertificate(const char* container);

// A packet as the key receives it: binary form (container type 3) or text form
// (type 2); an empty path attaches nothing.
enum class PacketForm { text = 1, binary = 2 };
ByteString expectedPacket(PacketForm form, std::string_view xml, std::string_view display,
                          std::string_view attachedPath = {},
                          std::string_view attachedContent = {});

// One line of the key's display log.
struct DisplayShow {
    int language = 0;
    int charset = 0;
    std::string warning;
    std::string display;
    int form = 0;
    std::string outcome;
};
std::vector<DisplayShow> displayLog(const TestEnvironment& env);

// A file in the test's folder; its path.
fs::path writeBytes(const TestEnvironment& env, const std::string& name,
                    const std::vector<std::uint8_t>& bytes);

// The base64 PKCS#7 decoded to DER by `openssl base64 -d -A`.
fs::path decodeSignature(const TestEnvironment& env, const std::string& base64,
                         const std::string& name = "p7");

// `openssl cms -verify -noverify` of an RSA SignedData: empty when it verifies
// and carries exactly the packet, else what went wrong.
std::string verifyRsaSignature(const TestEnvironment& env, const std::string& base64,
                               const ByteString& packet);

// An SM2 SignedData: `openssl asn1parse` shows the structure (SM3, SM2, the
// certificate), the content is the packet, and `openssl pkeyutl -verify` with
// the certificate's public key and the default user id accepts the signature
// over the packet. Empty when all hold.
std::string verifySm2Signature(const TestEnvironment& env, const std::string& base64,
                               const ByteString& packet, const ByteString& certificate);

// The certificate a SignedData carries (openssl pkcs7 -print_certs), DER.
ByteString signedDataCertificate(const TestEnvironment& env, const std::string& base64);

}  // namespace orva::api::test
