// softkey: makes and changes the software USB keys of a store, and plays the
// bank (test CA, certificates, envelopes) and the person at the key.

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tool.h"

namespace {

using namespace orva::softkey::tool;

struct Command {
    const char* name;
    const char* options;  // "sn= pin= flag": '=' takes a value
    std::size_t minPositional;
    std::size_t maxPositional;
    const char* usage;  // after "softkey "
    const char* help;   // what the command does, for --help
    int (*run)(Invocation&);
};

const Command kCommands[] = {
    {"create", "sn= pin= label= capacity= default-pin", 0, 0,
     "create [--sn SN] [--pin PIN] [--label L] [--capacity N] [--default-pin]",
     "Makes a key, plugs it in and prints its serial. Without --sn the serial is\n"
     "\"SK\" and 10 random digits. The PIN is PIN, else 12345678; without\n"
     "--default-pin it counts as already changed by its owner, so the key signs at\n"
     "once. --capacity is the number of containers it holds (1-255, default 16).\n",
     runCreate},
    {"list", "json", 0, 0, "list [--json]",
     "Prints one line per key: serial, present or removed, containers count and\n"
     "label, separated by tabs.\n",
     runList},
    {"show", "json", 1, 1, "show SN [--json]",
     "Prints a key: PIN tries left, default-PIN state, languages, admin state and\n"
     "its containers (index, name, type, usage, key algorithms, key files,\n"
     "certificate subjects).\n",
     runShow},
    {"plug", "", 1, 1, "plug SN", "Plugs a pulled-out key back in.\n", runPlug},
    {"unplug", "", 1, 1, "unplug SN", "Pulls a key out; it keeps its contents.\n", runUnplug},
    {"delete", "", 1, 1, "delete SN", "Deletes a key for good.\n", runDelete},
    {"provision", "sn= alg= type= subject= name= days= with-exchange no-certificate", 0, 0,
     "provision --sn SN --alg sm2|rsa1024|rsa2048 --type 2|3|4 --subject DN [--name NAME]\n"
     "          [--days N] [--with-exchange]\n"
     "          | provision --sn SN --alg sm2|rsa1024|rsa2048 --type 2|3|4 --no-certificate\n"
     "          [--name NAME]",
     "Adds a container as a bank leaves it: a signature key pair with its\n"
     "certificate from the store's test CA, and with --with-exchange an SM2\n"
     "exchange key pair with an encryption certificate. With --no-certificate the\n"
     "signature key pair alone, as a certificate request leaves it. The name is a\n"
     "fresh UUID unless NAME is given. DN is written most specific first,\n"
     "\"CN=..,OU=..,O=..\". Prints the container's index.\n",
     runProvision},
    {"ca", "", 0, 0, "ca",
     "Prints the store's test CA certificate (PEM), making the CA on first use.\n", runCa},
    {"issue", "format= days=", 1, 1, "issue REQ [--format p7|der] [--days N]",
     "Issues a certificate for the PKCS#10 request in the file REQ (DER, PEM or\n"
     "base64) from the test CA and prints it in base64 on one line: a PKCS#7\n"
     "certificate bag holding it and the CA certificate (p7, the default), or the\n"
     "DER certificate. SM2 requests must verify with the user id 1234567812345678.\n",
     runIssue},
    {"envelope", "sn= container= alg= subject= days= out-key= out-cert=", 0, 0,
     "envelope --sn SN --container INDEX|NAME [--alg 208|210] [--subject DN]\n"
     "         [--out-key FILE] [--out-cert FILE]",
     "Makes a new SM2 encryption key pair sealed to the container's signature key,\n"
     "with its encryption certificate from the test CA, and prints the envelope text\n"
     "a page passes on: cert||alg||A||B||C in base64, alg \"01\" for 210 and \"00\"\n"
     "for 208 (the default). The certificate's subject is DN, else the signature\n"
     "certificate's, else CN=<container name>. --out-key writes the new private key\n"
     "(PEM), --out-cert the encryption certificate (PEM).\n",
     runEnvelope},
    {"user", "sn= button= pin= new-pin= show", 0, 0,
     "user [--sn SN] [--button confirm|cancel|timeout|broken] [--pin PIN] [--new-pin PIN]\n"
     "     | user [--sn SN] --show",
     "Scripts the person at the key: the button they press and the PINs they type\n"
     "when the key asks. With --sn for that key only, else for every key; a level\n"
     "is replaced whole (the button defaults to confirm). --show prints the script\n"
     "in force.\n",
     runUser},
    {"display", "sn= json clear", 0, 0, "display [--sn SN] [--json] [--clear]",
     "Prints what the keys showed, oldest first: time, serial, language, charset,\n"
     "form, outcome and status, then the warning and display texts. --json prints\n"
     "the log's lines as they are; --clear empties the log.\n",
     runDisplay},
    {"admin-state", "sn=", 0, 1, "admin-state [--sn SN] [1|2]",
     "Sets the admin-key state (1: the key may be initialised, 2: not), or prints\n"
     "it.\n",
     runAdminState},
    {"pin", "sn= tries= reset= default changed", 0, 0,
     "pin --sn SN [--tries N] [--reset PIN] [--default | --changed]",
     "Sets the tries left (0 locks the PIN), sets a new PIN with every try back\n"
     "(counted as changed by its owner unless --default), or marks the PIN as the\n"
     "default one or a changed one. Without options prints the PIN state.\n",
     runPin},
    {"languages", "sn=", 0, 1, "languages --sn SN [CODE,CODE,...]",
     "Sets the display languages the key offers (1-16 codes, 1-255), or prints\n"
     "them.\n",
     runLanguages},
    {"fault", "sn= count=", 1, 3,
     "fault pulled before|FUNCTION [--sn SN]\n"
     "      | fault refuse-auth on|off\n"
     "      | fault fail FUNCTION STATUS|off [--count N]\n"
     "      | fault writes on|off\n"
     "      | fault show | fault clear",
     "Switches on faults: the key pulled out before the next slot listing or when\n"
     "FUNCTION is entered (the key SN, else the call's key), external\n"
     "authentication refused, FUNCTION failing with STATUS (decimal or 0x hex; N\n"
     "times, else always), failing writes of the key. FUNCTION is one of Dravik's\n"
     "34 working functions (NDOpen, QZAsymSign...) or Pelnor's AuxRegUserCert and\n"
     "AuxUnRegUserCert, or one of qzcore3's CP entry points (CPSignHash...), which\n"
     "fail with STATUS as their last error. The softkey tool itself is never faulted.\n",
     runFault},
    {"trace", "", 1, 1, "trace on|off|show|clear",
     "Switches Dravik's call trace on or off, prints it (one function name per\n"
     "line) or empties it.\n",
     runTrace},
    {"export-key", "sn= container= slot=", 0, 0,
     "export-key --sn SN --container INDEX|NAME --slot sign|exchange",
     "Prints a container's private key (PKCS#8 PEM).\n", runExportKey},
    {"export-cert", "sn= container= slot=", 0, 0,
     "export-cert --sn SN --container INDEX|NAME --slot sign|exchange",
     "Prints a container's certificate (PEM).\n", runExportCert},
    {"registered", "json", 0, 0, "registered [--json]",
     "Prints the certificates Pelnor registered with the system: subject,\n"
     "container name, provider and key type (keySpec), separated by tabs.\n",
     runRegistered},
    {"csp-list", "", 0, 0, "csp-list",
     "Prints the CSP module's containers (qzcore3): name, then the signature and\n"
     "exchange keys (rsa2048, ec256..., \"+cert\" with a certificate, - when absent),\n"
     "separated by tabs.\n",
     runCspList},
    {"csp-import", "name= key= cert= slot=", 0, 0,
     "csp-import --name NAME --key PEM [--cert PEM] [--slot sign|exchange]",
     "Puts a private key (RSA 1024/2048/4096 or EC P-256/P-384, PEM file) and its\n"
     "certificate into a CSP container, making the container when needed. The\n"
     "slot is sign (AT_SIGNATURE, the default) or exchange (AT_KEYEXCHANGE).\n",
     runCspImport},
    {"csp-export-key", "name= slot=", 0, 0, "csp-export-key --name NAME [--slot sign|exchange]",
     "Prints a CSP container's private key (PEM).\n", runCspExportKey},
};

constexpr const char* kIntro =
    "Usage: softkey [--dir DIR] COMMAND [OPTIONS]\n"
    "\n"
    "Makes and changes software USB keys. The store is DIR, else $ORVA_SOFTKEY_DIR,\n"
    "else ~/.local/share/orva/softkey. \"softkey COMMAND --help\" describes a command.\n"
    "\n"
    "Commands:\n";

constexpr const char* kOutro =
    "\n"
    "Exit status: 0 on success, 1 when the command fails, 2 for a command line it\n"
    "does not take; the reason goes to stderr on one line.\n";

bool isHelp(std::string_view word) {
    return word == "--help" || word == "-h";
}

void printHelp() {
    std::string text = kIntro;
    for (const Command& command : kCommands) {
        text += "  ";
        text += command.usage;
        text += '\n';
    }
    text += kOutro;
    print(text);
}

void printCommandHelp(const Command& command) {
    std::string text = std::string("Usage: softkey [--dir DIR] ") + command.usage + "\n\n";
    text += command.help;
    print(text);
}

// Whether name is one of the options of a list, and whether it takes a value.
std::optional<bool> optionKind(std::string_view list, std::string_view name) {
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find(' ', at);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        std::string_view word = list.substr(at, end - at);
        const bool takesValue = !word.empty() && word.back() == '=';
        if (takesValue) {
            word.remove_suffix(1);
        }
        if (!word.empty() && word == name) {
            return takesValue;
        }
        at = end + 1;
    }
    return std::nullopt;
}

int runCommand(const Command& command, const std::vector<std::string>& words,
               std::optional<std::filesystem::path> storeDir) {
    std::map<std::string, std::string, std::less<>> options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || !word.starts_with("--")) {
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        std::optional<bool> takesValue = optionKind(command.options, name);
        if (name == "dir") {
            takesValue = true;
        }
        if (!takesValue) {
            throw UsageError(std::string(command.name) + " takes no option --" + name);
        }
        std::string value;
        if (*takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < words.size()) {
                value = words[++i];
            } else {
                throw UsageError("--" + name + " needs a value");
            }
        } else if (inlineValue) {
            throw UsageError("--" + name + " takes no value");
        }
        if (name == "dir") {
            if (value.empty()) {
                throw UsageError("--dir needs a folder");
            }
            storeDir = value;
            continue;
        }
        if (!options.emplace(name, std::move(value)).second) {
            throw UsageError("--" + name + " given twice");
        }
    }
    if (positional.size() < command.minPositional || positional.size() > command.maxPositional) {
        throw UsageError(std::string("usage: softkey ") + command.usage);
    }
    Invocation in(command.name, std::move(options), std::move(positional), std::move(storeDir));
    return command.run(in);
}

int run(const std::vector<std::string>& words) {
    std::optional<std::filesystem::path> storeDir;
    std::size_t at = 0;
    for (; at < words.size(); ++at) {
        const std::string& word = words[at];
        if (isHelp(word)) {
            printHelp();
            return 0;
        }
        if (word == "--dir" || word.starts_with("--dir=")) {
            std::string dir;
            if (word == "--dir") {
                if (at + 1 >= words.size()) {
                    throw UsageError("--dir needs a folder");
                }
                dir = words[++at];
            } else {
                dir = word.substr(6);
            }
            if (dir.empty()) {
                throw UsageError("--dir needs a folder");
            }
            storeDir = dir;
        } else if (word.starts_with("-")) {
            throw UsageError("unknown option " + word + "; see softkey --help");
        } else {
            break;
        }
    }
    if (at == words.size()) {
        throw UsageError("missing COMMAND; see softkey --help");
    }
    for (const Command& command : kCommands) {
        if (words[at] != command.name) {
            continue;
        }
        const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                            words.end());
        for (const std::string& word : rest) {
            if (word == "--") {
                break;
            }
            if (isHelp(word)) {
                printCommandHelp(command);
                return 0;
            }
        }
        return runCommand(command, rest, std::move(storeDir));
    }
    throw UsageError("unknown command '" + words[at] + "'; see softkey --help");
}

// One line, whatever the message holds.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int status = 1;
    try {
        status = run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "softkey: %s\n", oneLine(error.what()).c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fputs("softkey: out of memory\n", stderr);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "softkey: %s\n", oneLine(error.what()).c_str());
        return 1;
    } catch (...) {
        std::fputs("softkey: internal error\n", stderr);
        return 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("softkey: cannot write the output\n", stderr);
        return 1;
    }
    return status;
}
