#pragma once

// com-call: creates a COM object by ProgID, looks a method up by name
// through IDispatch and invokes it with arguments typed as a page's script
// passes them.

#include <string>
#include <string_view>
#include <vector>

#include "win32/com.h"

namespace orva::tools {

// One command-line argument as a script value: an integer is VT_I4, a decimal
// number VT_R8, true/false VT_BOOL, "undefined" VT_EMPTY, "null" VT_NULL, and
// any other text (or "str:" and any text) a string. The caller clears it.
VARIANT scriptValue(std::string_view text);

struct CallOutcome {
    HRESULT hr = S_OK;        // what the step that ended the call answered
    std::string step;         // that step: "CLSIDFromProgID", "Invoke", ...
    std::string result;       // the method's result as text, on success
    SCODE scode = 0;          // the method's code, on DISP_E_EXCEPTION
    std::string description;  // the method's error description (UTF-8)
};

CallOutcome callByName(std::string_view progId, std::string_view method,
                       const std::vector<std::string>& args);

// The line com-call prints for an outcome, and its exit status: 0 done,
// 1 the method failed, 2 the call could not be made.
int describeOutcome(const CallOutcome& outcome, std::string* line);

// UTF-8 and UTF-16 for the command line.
std::u16string utf16Of(std::string_view utf8);
std::string utf8Of(const OLECHAR* text, std::size_t length);

}  // namespace orva::tools
