#pragma once

// One page-level call, as a page's script makes it, and the three front ends
// that carry it to the token API library: the host over pipes, the plug-in in
// the stand-in browser, the control through IDispatch. Each adapter turns the
// call into its front end's form and the answer back into one text: the
// result on success, the code in decimal otherwise.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orva::conformance {

// undefined (a member the page leaves out), an integer, a string.
using PageValue = std::variant<std::monostate, int32_t, std::string>;

// One argument: the host's request key and the value, in the plug-in's and
// the control's argument order.
struct PageArg {
    std::string key;
    PageValue value;
};

struct PageCall {
    std::string command;
    std::vector<PageArg> args;
};

enum class FrontEndKind { host, plugin, control };

std::string_view nameOf(FrontEndKind kind) noexcept;

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // The text result, or the code in decimal. Checks what is particular to
    // the front end's own form of the answer (the control's description).
    virtual std::string call(const PageCall& call) = 0;
};

// Started in the current environment (registry, store, temporary folder).
std::unique_ptr<FrontEnd> makeHostFrontEnd();
std::unique_ptr<FrontEnd> makePluginFrontEnd();
std::unique_ptr<FrontEnd> makeControlFrontEnd();

}  // namespace orva::conformance
