// host_bench: the native-messaging host measured as a browser uses it, over
// pipes, warm (bound, key present).
//   - GetMediaID and GMUsbKeySign (SM2, a 1 KiB transaction) on a software
//     key: requests per second and median latency;
//   - a long result handed out in pieces with GetDataPackage (through the
//     stand-in library, which makes a result of any size), against one copy
//     of the same number of bytes in this process.
// Usage: host_bench [--requests N] [--signs N] [--megabytes M]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host_process.h"
#include "orva/testing/support.h"

namespace {

// The host over two pipes, as the tests run it.
using Host = orva::native_host::test::HostProcess;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A temporary folder, removed at the end.
class Folder {
  public:
    fs::path root() const { return dir_.path(); }

  private:
    orva::testing::TempDir dir_;
};

void runTool(const std::string& command) {
    if (std::system((command + " >/dev/null").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

struct Timing {
    double perSecond;
    double medianMs;
};

Timing measure(Host& host, const std::string& body, int count, const char* expect) {
    std::vector<double> latencies;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto before = Clock::now();
        const std::string reply = host.request(body);
        latencies.push_back(millis(Clock::now() - before));
        if (reply.find(expect) == std::string::npos) {
            throw std::runtime_error("unexpected reply: " + reply.substr(0, 200));
        }
    }
    const double total = millis(Clock::now() - start);
    std::sort(latencies.begin(), latencies.end());
    return {count / (total / 1000.0), latencies[latencies.size() / 2]};
}

// "leftsize":N of a piece reply, and its content's length.
void readPiece(const std::string& reply, long long& leftsize, std::size_t& contentLength) {
    const std::size_t at = reply.find("\"leftsize\":");
    const std::size_t content = reply.find("\"content\":\"", at);
    if (at == std::string::npos || content == std::string::npos) {
        throw std::runtime_error("not a piece: " + reply.substr(0, 200));
    }
    leftsize = std::atoll(reply.c_str() + at + 11);
    contentLength = reply.size() - (content + 11) - 3;  // without "}}
}

void longResult(const Folder& folder, std::size_t bytes) {
    fs::create_directories(folder.root() / "fake");
    std::ofstream(folder.root() / "fake/script.json")
        << "{\"GetSignFileContent\":{\"length\":" << bytes << "}}";
    std::ofstream(folder.root() / "fake.reg")
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\"
           "Defaults\\Provider\\Korvane CSP ORVA V1.0]\n\"Image Path\"=\""
        << ORVA_FAKE_API_COMPLETE << "/qzcore3.so\"\n";
    Host host({{"ORVA_REGISTRY", (folder.root() / "fake.reg").string()},
               {"ORVA_FAKE_API_DIR", (folder.root() / "fake").string()}});
    host.request("{\"CmdType\":\"GetVersion\"}");

    const std::string ask =
        "{\"CmdType\":\"GetSignFileContent\",\"FileToken\":\"T\",\"MaxLength\":" +
        std::to_string(bytes) + ",\"FileOffset\":0}";
    const auto start = Clock::now();
    long long leftsize = 0;
    std::size_t got = 0;
    std::size_t piece = 0;
    readPiece(host.request(ask), leftsize, piece);
    const auto firstPiece = Clock::now();
    got += piece;
    int pieces = 1;
    while (leftsize > 0) {
        readPiece(host.request("{\"CmdType\":\"GetDataPackage\"}"), leftsize, piece);
        got += piece;
        ++pieces;
    }
    const auto end = Clock::now();
    if (got != bytes) {
        throw std::runtime_error("pieces joined to " + std::to_string(got) + " bytes");
    }

    // One copy of as many bytes, in this process.
    std::vector<char> source(bytes, 'x');
    std::vector<char> target(bytes);
    const auto copyStart = Clock::now();
    std::memcpy(target.data(), source.data(), bytes);
    const double copyMs = millis(Clock::now() - copyStart);
    volatile char keep = target[bytes / 2];
    (void)keep;

    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf(
        "%8.0f MB  %4d pieces  first reply %8.1f ms  the other pieces %8.1f ms  "
        "total %8.1f ms (%6.2f ms/MB)  one memcpy %6.1f ms\n",
        mb, pieces, millis(firstPiece - start), millis(end - firstPiece), millis(end - start),
        millis(end - start) / mb, copyMs);
}

int run(int argc, char** argv) {
    int requests = 2000;
    int signs = 200;
    std::size_t megabytes = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--requests") {
            requests = std::atoi(argv[i + 1]);
        } else if (option == "--signs") {
            signs = std::atoi(argv[i + 1]);
        } else if (option == "--megabytes") {
            megabytes = static_cast<std::size_t>(std::atoll(argv[i + 1]));
        }
    }
    Folder folder;
    const std::string bin = ORVA_BIN_DIR;
    const std::string env = "ORVA_SOFTKEY_DIR='" + (folder.root() / "softkey").string() +
                            "' ORVA_REGISTRY='" + (folder.root() / "registry.reg").string() + "' ";
    runTool(env + bin + "/softkey create --sn SK0000000001");
    runTool(env + bin + "/softkey user --pin 12345678");
    runTool(env + bin +
            "/softkey provision --sn SK0000000001 --alg sm2 --type 3 "
            "--subject 'CN=Zhang San,OU=Unit,O=Bank'");
    runTool(env + bin + "/orva-setup register");

    {
        Host host({{"ORVA_SOFTKEY_DIR", (folder.root() / "softkey").string()},
                   {"ORVA_REGISTRY", (folder.root() / "registry.reg").string()},
                   {"TMPDIR", folder.root().string()}});
        host.request("{\"CmdType\":\"GetMediaID\"}");  // bind and warm up
        const Timing media =
            measure(host, "{\"CmdType\":\"GetMediaID\"}", requests, "\"Resp\":\"SK0000000001\"");
        std::printf("GetMediaID            %6d requests  %8.1f requests/s  median %7.3f ms\n",
                    requests, media.perSecond, media.medianMs);
        const std::string sign =
            "{\"CmdType\":\"GMUsbKeySign\",\"SignerDN\":\"CN=Zhang San,OU=Unit,O=Bank\","
            "\"HashName\":\"SM3\",\"xmlMsg\":\"<T>" +
            std::string(1024 - 7, 'a') + "</T>\",\"keyMsg\":\"Pay 100.00\",\"NewVal\":\"\"}";
        host.request(sign);
        const Timing signing = measure(host, sign, signs, "\"Resp\":\"MII");
        std::printf("GMUsbKeySign SM2 1KiB %6d requests  %8.1f requests/s  median %7.3f ms\n",
                    signs, signing.perSecond, signing.medianMs);
    }
    for (const std::size_t part : {megabytes / 4, megabytes / 2, megabytes}) {
        longResult(folder, part * 1'000'000);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "host_bench: %s\n", error.what());
        return 1;
    }
}
