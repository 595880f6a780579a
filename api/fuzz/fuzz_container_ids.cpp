// The key ids a page names containers by for QZAPI_GMDelTempKey, over a
// software key with two keys without a certificate (ids 02 and 04) and one
// certified (06). The key refuses every deletion, so the answer alone tells
// how far the ids got: kInvalidParameter for a text that is no list of two-digit ids,
// kNoMatchCertificate when they do not name exactly their containers, the deletion's refusal when
// they do. Input: the id text, up to its first NUL (see README.md).

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input_reader.h"
#include "library_lifecycle.h"
#include "orva/testing/support.h"
#include "orva_api.h"
#include "orva_result_codes.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::fuzz::check;

constexpr std::uint32_t kUncertified[] = {2, 4};

// The key, its registry and the refusal of every deletion, made once per process.
class Fixture {
  public:
    Fixture() {
        const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
        const fs::path store = dir_.path() / "softkey";
        setenv("ORVA_SOFTKEY_DIR", store.c_str(), 1);
        setenv("ORVA_REGISTRY", (dir_.path() / "registry.reg").c_str(), 1);
        setenv("TMPDIR", dir_.path().c_str(), 1);
        orva::testing::writeFile(dir_.path() / "registry.reg", "REGEDIT4\n");
        const std::string tool = orva::testing::shellQuote((bin / "softkey").string()) + " --dir " +
                                 orva::testing::shellQuote(store.string());
        run(tool + " create --sn SN1 --pin 12345678");
        run(tool + " provision --sn SN1 --alg sm2 --type 3 --no-certificate");
        run(tool + " provision --sn SN1 --alg rsa1024 --type 2 --no-certificate");
        run(tool + " provision --sn SN1 --alg sm2 --type 3 --subject 'CN=Zhang San,O=Bank'");
        run(tool + " fault fail QZDelMultiContainers 0x6A82");
        orva::testing::writeFile(store / "user.json", R"({"pin": "12345678"})");
        check(orva::api::processAttach(GetModuleHandleA(nullptr)) == TRUE);
    }

  private:
    // The fixture's own commands: any failure is the build's.
    static void run(const std::string& command) {
        check(orva::testing::runCommand(command).status == 0);
    }

    orva::testing::TempDir dir_{"orva-fuzz-container-ids"};
};

// The ids the text names: at most 8 items split at "||" (the eighth keeps any
// further separators), each exactly two ASCII digits; none otherwise.
std::optional<std::vector<std::uint32_t>> namedIds(std::string_view text) {
    if (text.empty() || text.size() > 32) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> ids;
    for (;;) {
        const std::size_t at = ids.size() < 7 ? text.find("||") : std::string_view::npos;
        const std::string_view item = text.substr(0, at);
        const bool digits = item.size() == 2 && std::all_of(item.begin(), item.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        if (!digits) {
            return std::nullopt;
        }
        ids.push_back(static_cast<std::uint32_t>((item[0] - '0') * 10 + (item[1] - '0')));
        if (at == std::string_view::npos) {
            return ids;
        }
        text.remove_prefix(at + 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Fixture fixture;
    orva::fuzz::InputReader in(data, size);
    const std::string ids(in.text(64));
    const int code = QZAPI_GMDelTempKey(nullptr, 0, ids.c_str());

    const std::optional<std::vector<std::uint32_t>> named = namedIds(ids);
    if (!named) {
        check(code == orva::kInvalidParameter);
        return 0;
    }
    // Each container counts once, however often the list names it.
    const std::size_t matched = static_cast<std::size_t>(std::count_if(
        std::begin(kUncertified), std::end(kUncertified),
        [&](std::uint32_t id) { return std::ranges::find(*named, id) != named->end(); }));
    check(code ==
          (matched == named->size() ? orva::kDeletePublicKeyError : orva::kNoMatchCertificate));
    return 0;
}
