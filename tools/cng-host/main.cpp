// cng-host: drives a key storage provider's function table from the command
// line, as the CNG router would, and prints each status in hex.

#include <unistd.h>
#include <cstdio>

#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "orva/hex.h"
#include "router.h"

using namespace orva::cng;

namespace {

constexpr const char* kUsage =
    "usage: cng-host [--provider PATH] [--keyspec 1|2] COMMAND ...\n"
    "  algorithms [OPERATIONS]             list the provider's algorithms\n"
    "  supported ALGORITHM                 ask IsAlgSupported\n"
    "  keys                                list the keys (containers)\n"
    "  create NAME [--alg RSA|RSA_SIGN|ECDSA_P256|ECDH_P256] [--length BITS] [--overwrite]\n"
    "                                      create and finalize a key\n"
    "  property [--key NAME] PROPERTY      get a provider (or key) property, in hex\n"
    "  set-property [--key NAME] PROPERTY (--dword N | --text T | --file F)\n"
    "  sign NAME HASH [--pss]              sign a hash (hex); prints the signature\n"
    "  verify NAME HASH SIGNATURE [--pss]  verify a signature (hex)\n"
    "  encrypt NAME DATA                   PKCS#1 v1.5 to the key (hex in, hex out)\n"
    "  decrypt NAME DATA                   decrypt with the key (hex in, hex out)\n"
    "  export NAME BLOBTYPE                export a public blob, e.g. RSAPUBLICBLOB\n"
    "  delete NAME                         ask the provider to delete the key\n"
    "The provider is PATH, else \"QZKSP#Korvane CSP ORVA V1.0.so\" beside this program.\n"
    "The first line printed is \"status 0x........\"; the exit code is 0 on status 0.\n";

const std::set<std::string> kValueOptions = {"provider", "keyspec", "alg",  "length",
                                             "key",      "dword",   "text", "file"};
const std::set<std::string> kFlagOptions = {"pss", "overwrite"};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::map<std::string, std::string> options;
    std::vector<std::string> words;

    std::string option(const std::string& name, const std::string& fallback = "") const {
        const auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
    bool has(const std::string& name) const { return options.count(name) != 0; }
    const std::string& word(std::size_t i) const {
        if (i >= words.size()) {
            throw UsageError("missing argument");
        }
        return words[i];
    }
};

Arguments parse(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string text = argv[i];
        if (text == "--help") {
            args.options["help"] = "1";
        } else if (text.rfind("--", 0) == 0) {
            const std::string name = text.substr(2);
            if (kFlagOptions.count(name) != 0) {
                args.options[name] = "1";
            } else if (kValueOptions.count(name) != 0 && i + 1 < argc) {
                args.options[name] = argv[++i];
            } else {
                throw UsageError("unknown option " + text);
            }
        } else {
            args.words.push_back(text);
        }
    }
    if (args.words.empty() && args.options.count("help") == 0) {
        throw UsageError("no command");
    }
    return args;
}

std::uint32_t number(const std::string& text) {
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 0);
    if (used != text.size() || value > 0xFFFFFFFFul) {
        throw UsageError("not a number: " + text);
    }
    return static_cast<std::uint32_t>(value);
}

Bytes hexArgument(const std::string& text) {
    auto bytes = orva::fromHex(text);
    if (!bytes) {
        throw UsageError("not hex: " + text);
    }
    return std::move(*bytes);
}

std::string defaultProvider(const char* argv0) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : argv0;
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
           "/QZKSP#Korvane CSP ORVA V1.0.so";
}

int report(SECURITY_STATUS status) {
    std::printf("status %s\n", statusText(status).c_str());
    return status == 0 ? 0 : 1;
}

int report(const Output& out) {
    const int code = report(out.status);
    if (out.status == 0) {
        std::printf("%s\n", orva::toHex(out.bytes).c_str());
    }
    return code;
}

// What every command is handed: the command line, the provider, and the key
// slot (signature or exchange) and padding its options give.
struct Context {
    const Arguments& args;
    const Provider& provider;
    const std::string& command;
    std::uint32_t keySpec;
    std::uint32_t padding;

    // Runs body on the named key; a key that does not open is the command's
    // status.
    int withKey(const std::string& name, auto&& body) const {
        std::optional<Key> key;
        const SECURITY_STATUS status = openKey(provider, widen(name), keySpec, key);
        if (status != 0) {
            return report(status);
        }
        return body(*key);
    }
};

int runAlgorithms(const Context& context) {
    const Arguments& args = context.args;
    std::vector<AlgorithmEntry> list;
    const SECURITY_STATUS status =
        enumAlgorithms(context.provider, args.words.size() > 1 ? number(args.word(1)) : 0, list);
    const int code = report(status);
    for (const AlgorithmEntry& a : list) {
        std::printf("%s\tclass %u\toperations 0x%X\n", narrow(a.name).c_str(), a.algorithmClass,
                    a.operations);
    }
    return code;
}

int runSupported(const Context& context) {
    const Provider& provider = context.provider;
    const std::u16string name = widen(context.args.word(1));
    return report(provider.table().IsAlgSupported(provider.handle(), name.c_str(), 0));
}

int runKeys(const Context& context) {
    std::vector<KeyEntry> list;
    const SECURITY_STATUS status = enumKeys(context.provider, list);
    report(status == NTE_NO_MORE_ITEMS ? 0 : status);
    for (const KeyEntry& k : list) {
        std::printf("%s\t%s\tspec %u\n", narrow(k.name).c_str(), narrow(k.algorithm).c_str(),
                    k.legacyKeySpec);
    }
    return status == NTE_NO_MORE_ITEMS ? 0 : 1;
}

int runCreate(const Context& context) {
    const Arguments& args = context.args;
    KeyOptions options;
    options.algorithm = widen(args.option("alg", "RSA"));
    if (args.has("length")) {
        options.lengthBits = number(args.option("length"));
    }
    options.legacyKeySpec = context.keySpec;
    options.flags = args.has("overwrite") ? NCRYPT_OVERWRITE_KEY_FLAG : 0;
    std::optional<Key> key;
    return report(createKey(context.provider, widen(args.word(1)), options, key));
}

// property and set-property: the provider's, or with --key the key's.
int runProperty(const Context& context) {
    const Arguments& args = context.args;
    const Provider& provider = context.provider;
    const std::string& command = context.command;
    const std::u16string property = widen(args.word(1));
    Bytes value;
    if (command == "set-property") {
        if (args.has("dword")) {
            const std::uint32_t v = number(args.option("dword"));
            value.assign(reinterpret_cast<const std::uint8_t*>(&v),
                         reinterpret_cast<const std::uint8_t*>(&v) + sizeof v);
        } else if (args.has("text")) {
            const std::u16string text = widen(args.option("text"));
            const auto* p = reinterpret_cast<const std::uint8_t*>(text.c_str());
            value.assign(p, p + (text.size() + 1) * sizeof(char16_t));
        } else if (args.has("file")) {
            std::ifstream in(args.option("file"), std::ios::binary);
            if (!in) {
                throw UsageError("cannot read " + args.option("file"));
            }
            value.assign(std::istreambuf_iterator<char>(in), {});
        } else {
            throw UsageError("set-property needs --dword, --text or --file");
        }
    }
    if (!args.has("key")) {
        return command == "property" ? report(getProviderProperty(provider, property))
                                     : report(setProviderProperty(provider, property, value));
    }
    return context.withKey(args.option("key"), [&](const Key& key) {
        return command == "property" ? report(getKeyProperty(key, property))
                                     : report(setKeyProperty(key, property, value));
    });
}

int runSign(const Context& context) {
    const Arguments& args = context.args;
    return context.withKey(args.word(1), [&](const Key& key) {
        return report(signHash(key, hexArgument(args.word(2)), context.padding));
    });
}

int runVerify(const Context& context) {
    const Arguments& args = context.args;
    return context.withKey(args.word(1), [&](const Key& key) {
        return report(verifySignature(key, hexArgument(args.word(2)), hexArgument(args.word(3)),
                                      context.padding));
    });
}

// encrypt and decrypt.
int runCrypt(const Context& context) {
    const Arguments& args = context.args;
    return context.withKey(args.word(1), [&](const Key& key) {
        const Bytes data = hexArgument(args.word(2));
        return report(context.command == "encrypt" ? encrypt(key, data) : decrypt(key, data));
    });
}

int runExport(const Context& context) {
    const Arguments& args = context.args;
    return context.withKey(
        args.word(1), [&](const Key& key) { return report(exportKey(key, widen(args.word(2)))); });
}

int runDelete(const Context& context) {
    const Provider& provider = context.provider;
    return context.withKey(context.args.word(1), [&](const Key& key) {
        return report(provider.table().DeleteKey(provider.handle(), key.handle(), 0));
    });
}

struct Command {
    const char* name;
    int (*run)(const Context&);
};

const Command kCommands[] = {
    {"algorithms", runAlgorithms},
    {"supported", runSupported},
    {"keys", runKeys},
    {"create", runCreate},
    {"property", runProperty},
    {"set-property", runProperty},
    {"sign", runSign},
    {"verify", runVerify},
    {"encrypt", runCrypt},
    {"decrypt", runCrypt},
    {"export", runExport},
    {"delete", runDelete},
};

int run(const Arguments& args, const KspRouter& router) {
    const Provider provider(router);
    const std::string& command = args.word(0);
    const std::uint32_t keySpec = number(args.option("keyspec", "0"));
    const std::uint32_t padding = args.has("pss") ? BCRYPT_PAD_PSS : BCRYPT_PAD_PKCS1;
    const Context context{args, provider, command, keySpec, padding};
    for (const Command& entry : kCommands) {
        if (command == entry.name) {
            return entry.run(context);
        }
    }
    throw UsageError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Arguments args = parse(argc, argv);
        if (args.has("help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const KspRouter router(args.option("provider", defaultProvider(argv[0])));
        return run(args, router);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "cng-host: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cng-host: %s\n", e.what());
        return 1;
    }
}
