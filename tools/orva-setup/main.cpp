// orva-setup: makes an install folder known to the system, and the host
// known to Chromium.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orva/registration.h"
#include "setup.h"

namespace {

using namespace orva::setup;

constexpr const char* kHelp = R"(Usage: orva-setup [--registry FILE] COMMAND [OPTIONS]

Sets up an install of the USB-key middleware. The registry is FILE, else
$ORVA_REGISTRY, else /etc/orva/registry.reg.

Commands:
  register [--dir DIR] [--version VERSION]
      Writes the provider registration "Korvane CSP ORVA V1.0", whose
      "Image Path" names DIR/qzcore3.so, in the native and the 32-bit view
      (the front ends load ORVA_API from DIR), and the uninstall entry with
      "DisplayVersion" VERSION (default %s). DIR defaults to the folder
      orva-setup is in.
  unregister
      Removes the provider registration and the uninstall entry.
  manifest (--system | --user | --user-data-dir DIR | --output FILE)
           [--browser chromium|chrome] [--host PATH] [--extension-id ID]...
      Writes the native-messaging host manifest orva_xr_usbkey_extension.json
      that lets the extensions ID (default: the bundled extension,
      %s) start the host PATH (default: orva_xr_usbkey_extension beside
      orva-setup). --system writes it for every user (root), --user for
      you, --user-data-dir for a browser started with that
      --user-data-dir, --output to FILE. Prints the file written.
  remove-manifest (--system | --user | --user-data-dir DIR | --output FILE)
           [--browser chromium|chrome]
      Removes that manifest.

Exit status: 0 on success, 1 on failure, 2 for a command line it does not
take; the reason goes to stderr.
)";

// A command line orva-setup does not take: exit status 2.
class Usage : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

bool isHelp(std::string_view word) {
    return word == "--help" || word == "-h";
}

// Options of one command, "--name value" or "--name=value".
class Options {
  public:
    explicit Options(std::vector<std::string> words) : words_(std::move(words)) {}

    // Every value given for name, in order.
    std::vector<std::string> values(const std::string& name) {
        std::vector<std::string> found;
        for (std::size_t i = 0; i < words_.size();) {
            if (words_[i] == name) {
                if (i + 1 >= words_.size()) {
                    throw Usage(name + " needs a value");
                }
                found.push_back(words_[i + 1]);
                words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i),
                             words_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            } else if (words_[i].rfind(name + "=", 0) == 0) {
                found.push_back(words_[i].substr(name.size() + 1));
                words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        return found;
    }
    std::optional<std::string> value(const std::string& name) {
        std::vector<std::string> found = values(name);
        if (found.size() > 1) {
            throw Usage(name + " given twice");
        }
        return found.empty() ? std::nullopt : std::optional(found.front());
    }
    bool flag(const std::string& name) {
        bool found = false;
        for (std::size_t i = 0; i < words_.size();) {
            if (words_[i] == name) {
                found = true;
                words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        return found;
    }
    // Every word was taken.
    void finish() const {
        if (!words_.empty()) {
            throw Usage("unexpected '" + words_.front() + "'");
        }
    }

  private:
    std::vector<std::string> words_;
};

fs::path absolute(const std::string& path) {
    return fs::absolute(fs::path(path)).lexically_normal();
}

ManifestPlace manifestPlace(Options& options) {
    ManifestPlace place;
    int chosen = 0;
    if (options.flag("--system")) {
        place.kind = ManifestPlace::system;
        ++chosen;
    }
    if (options.flag("--user")) {
        place.kind = ManifestPlace::user;
        ++chosen;
    }
    if (const auto dir = options.value("--user-data-dir")) {
        place.kind = ManifestPlace::userDataDir;
        place.path = absolute(*dir);
        ++chosen;
    }
    if (const auto file = options.value("--output")) {
        place.kind = ManifestPlace::file;
        place.path = absolute(*file);
        ++chosen;
    }
    if (chosen != 1) {
        throw Usage("name one of --system, --user, --user-data-dir DIR, --output FILE");
    }
    if (const auto browser = options.value("--browser")) {
        if (*browser == "chrome") {
            place.browser = Browser::chrome;
        } else if (*browser != "chromium") {
            throw Usage("--browser is chromium or chrome");
        }
    }
    return place;
}

int runRegister(Options options) {
    const auto dir = options.value("--dir");
    const auto version = options.value("--version");
    options.finish();
    const fs::path folder = dir ? absolute(*dir) : programFolder();
    registerInstall(folder, version.value_or(ORVA_PRODUCT_VERSION));
    std::printf("registered %s\n", (folder / orva::kCspModuleName).c_str());
    return 0;
}

int runUnregister(Options options) {
    options.finish();
    unregisterInstall();
    return 0;
}

int runManifest(Options options) {
    const ManifestPlace place = manifestPlace(options);
    const auto host = options.value("--host");
    std::vector<std::string> ids = options.values("--extension-id");
    options.finish();
    if (ids.empty()) {
        ids.push_back(kBundledExtensionId);
    }
    const fs::path program = host ? absolute(*host) : programFolder() / kHostName;
    std::printf("%s\n", writeManifest(place, program, ids).c_str());
    return 0;
}

int runRemoveManifest(Options options) {
    const ManifestPlace place = manifestPlace(options);
    options.finish();
    if (!removeManifest(place)) {
        throw Failure("no manifest at " + manifestFile(place).string());
    }
    return 0;
}

struct Command {
    const char* name;
    int (*run)(Options options);
};

constexpr Command kCommands[] = {
    {"register", runRegister},
    {"unregister", runUnregister},
    {"manifest", runManifest},
    {"remove-manifest", runRemoveManifest},
};

int run(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (isHelp(word)) {
            std::printf(kHelp, ORVA_PRODUCT_VERSION, kBundledExtensionId);
            return 0;
        }
    }
    // Options before the command: the registry file.
    std::size_t at = 0;
    for (; at < words.size() && words[at].rfind("--", 0) == 0; ++at) {
        std::string file;
        if (words[at] == "--registry" && at + 1 < words.size()) {
            file = words[++at];
        } else if (words[at].rfind("--registry=", 0) == 0) {
            file = words[at].substr(11);
        } else {
            throw Usage("unknown option '" + words[at] + "' before the command");
        }
        if (file.empty()) {
            throw Usage("--registry needs a FILE");
        }
        // The registry functions read the variable at every call.
        ::setenv("ORVA_REGISTRY", file.c_str(), 1);
    }
    if (at == words.size()) {
        throw Usage("missing COMMAND");
    }
    for (const Command& command : kCommands) {
        if (words[at] == command.name) {
            return command.run(Options(std::vector<std::string>(
                words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end())));
        }
    }
    throw Usage("unknown command '" + words[at] + "'");
}

}  // namespace

fs::path orva::setup::programFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        throw Failure("cannot find the folder orva-setup is in");
    }
    return self.parent_path();
}

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Usage& usage) {
        std::fprintf(stderr, "orva-setup: %s; see orva-setup --help\n", usage.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orva-setup: %s\n", error.what());
    }
    return 1;
}
