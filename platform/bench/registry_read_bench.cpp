// Timing program for reading the registry file (not a test): files of N
// sibling keys written in ascending and in descending order, each read by the
// first Reg* call of a fresh process, as every process that binds reads it.
//
//   registry_read_bench [KEYS...]   (default 50000 100000 200000)

#include <stdio.h>
#include <stdlib.h>

#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace {

std::string keyName(std::size_t i) {
    char name[32];
    snprintf(name, sizeof name, "k%07zu", i);
    return name;
}

// keys sections right under HKEY_CURRENT_USER, without values.
void writeFile(const std::string& path, std::size_t keys, bool descending) {
    std::string text = "REGEDIT4\n\n";
    for (std::size_t n = 0; n < keys; ++n) {
        const std::size_t i = descending ? keys - 1 - n : n;
        text += "[HKEY_CURRENT_USER\\" + keyName(i) + "]\n";
    }
    std::ofstream out(path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void openOneKey(std::size_t keys) {
    const std::string subkey = keyName(keys / 2);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        throw std::runtime_error("the key is not there");
    }
    RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::size_t> sizes;
        for (int i = 1; i < argc; ++i) {
            sizes.push_back(std::stoul(argv[i]));
        }
        if (sizes.empty()) {
            sizes = {50000, 100000, 200000};
        }
        const orva::bench::BenchFolder folder;
        const std::string path = (folder.root() / "registry.reg").string();
        printf("%10s %10s %12s %14s %12s\n", "keys", "MiB", "order", "first call, s", "peak MiB");
        for (const std::size_t keys : sizes) {
            for (const bool descending : {false, true}) {
                writeFile(path, keys, descending);
                const auto result = orva::bench::inChild([&] { openOneKey(keys); });
                const double mib =
                    static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
                printf("%10zu %10.1f %12s %14.2f %12.0f\n", keys, mib,
                       descending ? "descending" : "ascending", result.seconds,
                       static_cast<double>(result.peakKib) / 1024);
                fflush(stdout);
            }
        }
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "registry_read_bench: %s\n", e.what());
        return 1;
    }
}
