#pragma once

// A check of a front end's output with the openssl command line: an SM2
// PKCS#7 from the software key, verified against the store's test CA.

#include <functional>
#include <sstream>
#include <string>

#include "orva/testing/support.h"

namespace orva::frontend::test {

// Runs a shell command in the folder the files are written to.
using CommandRunner = std::function<orva::testing::CommandResult(const std::string&)>;

// "" when the base64 PKCS#7 holds an SM2 signature (default user id, SM3) by
// a certificate of the test CA over its content, which it leaves in
// content.bin; else what failed.
inline std::string verifySm2Pkcs7(const CommandRunner& run, const std::string& base64) {
    const auto step = [&](const std::string& command, std::string* output = nullptr) {
        const orva::testing::CommandResult result = run(command);
        if (output != nullptr) {
            *output = result.output;
        }
        return result.status == 0 ? std::string() : command + ": " + result.output;
    };
    std::string parsed;
    std::string ca;
    for (std::string failed :
         {step("printf '%s' " + orva::testing::shellQuote(base64) +
               " | openssl base64 -d -A -out p7.der"),
          step("softkey ca > ca.pem"), step("openssl asn1parse -inform DER -in p7.der", &parsed),
          step("openssl pkcs7 -inform DER -in p7.der -print_certs -out signer.pem"),
          step("openssl verify -CAfile ca.pem signer.pem"),
          step("openssl cms -verify -inform DER -noverify -nosigs -binary -in p7.der"
               " -out content.bin"),
          step("openssl x509 -in signer.pem -pubkey -noout -out signer.pub")}) {
        if (!failed.empty()) {
            return failed;
        }
    }
    for (const char* expected : {":pkcs7-signedData", ":sm3", ":sm2"}) {
        if (parsed.find(expected) == std::string::npos) {
            return std::string("no ") + expected + " in\n" + parsed;
        }
    }
    // The signature is the last OCTET STRING.
    std::string offset;
    std::istringstream lines(parsed);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("prim: OCTET STRING") != std::string::npos) {
            offset = line.substr(0, line.find(':'));
        }
    }
    if (std::string failed = step("openssl asn1parse -inform DER -in p7.der -noout -strparse " +
                                  offset + " -out signature.der");
        !failed.empty()) {
        return failed;
    }
    return step(
        "openssl pkeyutl -verify -pubin -inkey signer.pub -rawin -digest sm3"
        " -pkeyopt distid:1234567812345678 -in content.bin -sigfile signature.der");
}

}  // namespace orva::frontend::test
