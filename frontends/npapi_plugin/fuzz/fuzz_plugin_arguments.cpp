// Fuzzes the plug-in's scriptable object as a page's script calls it: method
// names and arguments of every script type, through the built plug-in loaded
// by the stand-in browser, over the recording stand-in token API library.
// Input: byte 0 picks the stand-in's answers and the ANSI code page; then
// calls, each a name, an argument count and the arguments (README.md).

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_set.h"
#include "frontend_test_support.h"
#include "input_reader.h"
#include "orva_result_codes.h"
#include "plugin_session.h"
#include "stand_in_browser.h"
#include "stub_library.h"

namespace {

using orva::fuzz::check;
using orva::fuzz::InputReader;
using orva::npapi_host::PluginSession;
using orva::npapi_host::StandInBrowser;

constexpr orva::ApiErrorCode kRefused = orva::kInvalidParameter;
// GetSignFileContent sizes its buffer by what the page asks, up to 2 GiB; a
// run keeps to pieces of at most this.
constexpr long long kLargestPiece = 1 << 20;
constexpr uint32_t kLongestRepeat = 1 << 20;

// The arguments a method refuses with kInvalidParameter before it calls the library: too
// few, or a String argument that is missing, of another type or too long.
struct StringRule {
    uint32_t index;
    std::size_t limit;  // refused from this length on
    bool required;      // a non-String is refused too (else it reads as empty)
};
struct ArgumentRules {
    std::string_view method;
    uint32_t minimum;
    std::vector<StringRule> strings;
};

const std::vector<ArgumentRules>& argumentRules() {
    static const std::vector<ArgumentRules> rules = {
        {"GMGetPublicKey", 1, {{0, 16, true}}},
        {"GMGetPublicKeyC", 3, {{0, 16, true}, {1, 256, true}, {2, 256, true}}},
        {"GMDelTempKey", 2, {{0, 1024, false}, {1, 64, false}}},
        {"SetCharset", 1, {{0, 128, true}}},
        {"SetLanguage", 1, {{0, 128, true}}},
        {"GMUsbKeySign", 5, {{1, 32, true}}},
        {"GMCreatePKCS10", 1, {{0, SIZE_MAX, true}}},
        {"GMWritePKCS7", 1, {{0, SIZE_MAX, true}}},
        {"GMUsbKeySignFile", 6, {{1, 32, true}}},
        {"GMWritePKCS7_Enc", 3, {{0, SIZE_MAX, true}}},
        {"NSFileToTokenExt", 1, {{0, SIZE_MAX, true}}},
        {"GMUsbKeySignFileExt", 5, {{1, 32, true}}},
        {"GetSignFileContent", 3, {{0, SIZE_MAX, true}}},
    };
    return rules;
}

bool refusedByRules(std::string_view method, const NPVariant* args, uint32_t count) {
    for (const ArgumentRules& rule : argumentRules()) {
        if (rule.method != method) {
            continue;
        }
        const uint32_t passed = args != nullptr ? count : 0;
        if (passed < rule.minimum) {
            return true;
        }
        for (const StringRule& s : rule.strings) {
            const NPVariant& arg = args[s.index];
            if (arg.type != NPVariantType_String) {
                if (s.required) {
                    return true;
                }
            } else if (arg.value.stringValue.UTF8Characters != nullptr &&
                       arg.value.stringValue.UTF8Length >= s.limit) {
                return true;
            }
        }
    }
    return false;
}

// The page's piece size of GetSignFileContent, as far as the run must bound it.
bool hugePiece(std::string_view method, const NPVariant* args, uint32_t count) {
    if (method != "GetSignFileContent" || args == nullptr || count < 2) {
        return false;
    }
    const NPVariant& size = args[1];
    switch (size.type) {
        case NPVariantType_Int32:
            return size.value.intValue > kLargestPiece;
        case NPVariantType_Double:
            return size.value.doubleValue > kLargestPiece;
        case NPVariantType_String: {
            const NPString& text = size.value.stringValue;
            const std::string digits(text.UTF8Characters != nullptr ? text.UTF8Characters : "",
                                     text.UTF8Characters != nullptr ? text.UTF8Length : 0);
            return std::strtoll(digits.c_str(), nullptr, 10) > kLargestPiece;
        }
        default:
            return false;
    }
}

// The stand-in library, the browser and the plug-in with one instance; made
// once, as a page keeps its plug-in.
class Page {
  public:
    Page() : session_(std::make_unique<PluginSession>(browser_, pluginPath())) {
        baselineBlocks_ = browser_.allocator().liveBlocks();
        baselineObjects_ = browser_.liveObjects();
    }

    StandInBrowser& browser() noexcept { return browser_; }
    PluginSession& session() noexcept { return *session_; }
    orva::fuzz::StubLibrary& library() noexcept { return library_; }

    // Nothing of a call outlives it in the browser.
    void checkBalanced() {
        const auto& memory = browser_.allocator();
        check(memory.liveBlocks() == baselineBlocks_);
        check(memory.doubleFrees() == 0 && memory.foreignFrees() == 0);
        check(browser_.liveObjects() == baselineObjects_ && browser_.objectFaults() == 0);
    }

  private:
    static std::string pluginPath() {
        return (orva::frontend::test::binFolder() / "nporva_firefox_XR.so").string();
    }

    orva::fuzz::StubLibrary library_;  // first: the plug-in binds the library it names
    StandInBrowser browser_;
    std::unique_ptr<PluginSession> session_;
    std::size_t baselineBlocks_ = 0;
    std::size_t baselineObjects_ = 0;
};

Page& page() {
    static Page instance;
    return instance;
}

// A class the plug-in knows nothing of, for Object arguments.
NPClass foreignClass{NP_CLASS_STRUCT_VERSION,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr};

// The arguments of one call: each String's characters in a block of exactly
// its length, so a read past it is caught.
class Arguments {
  public:
    Arguments() = default;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments() {
        for (NPVariant& v : variants_) {
            if (v.type == NPVariantType_Object) {
                page().browser().releaseObject(v.value.objectValue);
            }
        }
    }

    void add(InputReader& in) {
        NPVariant v{};
        const uint8_t type = in.byte();
        switch (type % 10) {
            case 0:
                v.type = NPVariantType_Void;
                break;
            case 1:
                v.type = NPVariantType_Null;
                break;
            case 2:
                v.type = NPVariantType_Bool;
                v.value.boolValue = (in.byte() & 1) != 0;
                break;
            case 3:
                v.type = NPVariantType_Int32;
                v.value.intValue = in.number<int32_t>();
                break;
            case 4:
                v.type = NPVariantType_Double;
                v.value.doubleValue = in.number<double>();
                break;
            case 5:
                v = string(in.bytes(in.byte()));
                break;
            case 6:
                v = string(in.bytes(in.number<uint16_t>()));
                break;
            case 7: {
                // A long run of one byte: texts far beyond every limit.
                const uint32_t count = std::min<uint32_t>(
                    uint32_t{in.number<uint16_t>()} << (in.byte() % 5), kLongestRepeat);
                v = string(std::string(count, static_cast<char>(in.byte())));
                break;
            }
            case 8:
                // No characters, whatever length the browser states.
                v.type = NPVariantType_String;
                v.value.stringValue = {nullptr, in.number<uint16_t>()};
                break;
            default:
                v.type = NPVariantType_Object;
                v.value.objectValue =
                    page().browser().createObject(page().session().npp(), &foreignClass);
                check(v.value.objectValue != nullptr);
                break;
        }
        variants_.push_back(v);
    }

    const NPVariant* data() const noexcept { return variants_.data(); }
    uint32_t count() const noexcept { return static_cast<uint32_t>(variants_.size()); }

  private:
    NPVariant string(std::string_view text) {
        texts_.push_back(std::make_unique<char[]>(text.size()));
        std::copy(text.begin(), text.end(), texts_.back().get());
        NPVariant v{};
        v.type = NPVariantType_String;
        v.value.stringValue = {texts_.back().get(), static_cast<uint32_t>(text.size())};
        return v;
    }

    std::vector<NPVariant> variants_;
    std::vector<std::unique_ptr<char[]>> texts_;
};

// The plug-in's method names, as the vocabulary lists them.
const std::vector<std::string_view>& pluginMethods() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const orva::frontend::CommandRow& row : orva::frontend::kCommandSet) {
            if ((row.offeredBy & orva::frontend::kPlugin) != 0) {
                out.push_back(row.name);
            }
        }
        return out;
    }();
    return names;
}

// A method name: one of the plug-in's, a near miss, or any bytes up to a NUL.
std::string methodName(InputReader& in) {
    const uint8_t pick = in.byte();
    if (pick < 0xF0) {
        return std::string(pluginMethods()[pick % pluginMethods().size()]);
    }
    if (pick < 0xFF) {
        static const std::string_view kNearMisses[] = {"", "getmediaid", "GetMediaID ",
                                                       "FreeBuffer2", "GetStrValue"};
        return std::string(kNearMisses[pick % std::size(kNearMisses)]);
    }
    const std::string_view raw = in.bytes(in.byte());
    return std::string(raw.substr(0, raw.find('\0')));
}

bool isMethod(std::string_view name) {
    for (std::string_view method : pluginMethods()) {
        if (method == name) {
            return true;
        }
    }
    return false;
}

// A result the browser can read and free: an Int32, or a String whose
// characters lie in browser memory of at least its length.
void checkAndRelease(NPVariant& result) {
    check(result.type == NPVariantType_Int32 || result.type == NPVariantType_String);
    if (result.type == NPVariantType_String) {
        const NPString& text = result.value.stringValue;
        check(text.UTF8Characters != nullptr);
        volatile unsigned sum = 0;
        for (uint32_t i = 0; i < text.UTF8Length; ++i) {
            sum = sum + static_cast<unsigned char>(text.UTF8Characters[i]);
        }
    }
    page().browser().releaseVariant(result);
}

void callOnce(InputReader& in) {
    Page& p = page();
    const std::string name = methodName(in);
    const uint8_t shape = in.byte();
    Arguments args;
    for (uint8_t i = 0; i < (shape & 0x0F); ++i) {
        args.add(in);
    }
    // No argument array, whatever the count says.
    const NPVariant* argv = (shape & 0x10) != 0 ? nullptr : args.data();
    NPObject* object = p.session().object();
    NPVariant result{};
    result.type = NPVariantType_Void;

    if ((shape & 0x20) != 0) {
        check(object->_class->invokeDefault(object, argv, args.count(), &result));
        check(result.type == NPVariantType_String &&
              std::string_view(result.value.stringValue.UTF8Characters,
                               result.value.stringValue.UTF8Length) == "default method return val");
        checkAndRelease(result);
        return;
    }
    if (hugePiece(name, argv, args.count())) {
        return;
    }
    const off_t loggedBefore = p.library().logged();
    const bool invoked =
        object->_class->invoke(object, p.browser().identifier(name), argv, args.count(), &result);
    check(invoked == isMethod(name));
    if (!invoked) {
        check(result.type == NPVariantType_Void);
        return;
    }
    if (refusedByRules(name, argv, args.count())) {
        check(result.type == NPVariantType_Int32 && result.value.intValue == kRefused);
        check(p.library().logged() == loggedBefore);
    }
    checkAndRelease(result);
}

}  // namespace

// The plug-in is loaded before the fuzzer starts, so its coverage counts from
// the first input.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    page();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader in(data, size);
    Page& p = page();
    p.library().use(in.byte());
    for (int calls = 0; calls < 16 && !in.empty(); ++calls) {
        callOnce(in);
    }
    p.checkBalanced();
    return 0;
}
