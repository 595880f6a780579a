// Timing program for QZAPI_FileToTokenExt (not a test): the token of a large
// file (1 GiB by default), set against `openssl dgst -sm3` over the same file
// in the same run, and the export's peak resident memory for that file and for
// a 1 MiB one. The file is read once beforehand so that both run from the page
// cache.
//
//   file_token_bench [--size-mb N]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "orva_api.h"

namespace {

namespace fs = std::filesystem;
using orva::bench::ChildResult;
using orva::bench::inChild;
using orva::bench::ownFolder;
using orva::bench::run;
using Clock = std::chrono::steady_clock;

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// size MiB of one random MiB repeated.
void writeFile(const fs::path& path, long mib) {
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block((1 << 20) / 8);
    for (auto& word : block) {
        word = random();
    }
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < mib; ++i) {
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 8));
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// In a child: the library loaded and the file's token made.
ChildResult tokenInChild(const fs::path& file) {
    return inChild([&] {
        const orva::bench::ApiExport<decltype(&QZAPI_FileToTokenExt)> token("QZAPI_FileToTokenExt");
        std::vector<char> buffer(2048);
        int length = static_cast<int>(buffer.size());
        const int code = (*token)(file.c_str(), buffer.data(), &length);
        if (code != 0) {
            throw std::runtime_error("QZAPI_FileToTokenExt answered " + std::to_string(code));
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    long sizeMb = 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size-mb") == 0) {
            sizeMb = std::max(1L, std::atol(argv[i + 1]));
        }
    }
    try {
        // A key plugged in: the export wants one present.
        const orva::bench::BenchFolder store;
        run(quoted(ownFolder() / "softkey") + " create --sn BENCH1 --pin 12345678 > /dev/null");
        const fs::path large = store.root() / "large.bin";
        const fs::path small = store.root() / "small.bin";
        writeFile(large, sizeMb);
        writeFile(small, 1);
        run("cat " + quoted(large) + " > /dev/null");

        const auto opensslSeconds = [&] {
            const auto start = Clock::now();
            run("openssl dgst -sm3 " + quoted(large) + " > /dev/null");
            return std::chrono::duration<double>(Clock::now() - start).count();
        };
        // Each side twice, interleaved; the better time of each.
        const double openssl1 = opensslSeconds();
        const ChildResult export1 = tokenInChild(large);
        const double openssl2 = opensslSeconds();
        const ChildResult export2 = tokenInChild(large);
        const ChildResult smallToken = tokenInChild(small);

        const double opensslBest = std::min(openssl1, openssl2);
        const double exportBest = std::min(export1.seconds, export2.seconds);
        const double mib = double(sizeMb);
        printf("| %ld MiB file | time | throughput | peak memory |\n|---|---|---|---|\n", sizeMb);
        printf("| QZAPI_FileToTokenExt | %.2f s | %.0f MiB/s | %.1f MiB |\n", exportBest,
               mib / exportBest, double(std::max(export1.peakKib, export2.peakKib)) / 1024);
        printf("| openssl dgst -sm3 | %.2f s | %.0f MiB/s | |\n", opensslBest, mib / opensslBest);
        printf("| QZAPI_FileToTokenExt, 1 MiB file | %.3f s | | %.1f MiB |\n", smallToken.seconds,
               double(smallToken.peakKib) / 1024);
        printf("\nexport / openssl throughput: %.2f\n", opensslBest / exportBest);
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "file_token_bench: %s\n", e.what());
        return 1;
    }
}
