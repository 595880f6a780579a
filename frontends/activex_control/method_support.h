#pragma once

// The steps every method of the control shares: one process-wide lock, the
// [out,retval] preset, the binding of the token API library, the output
// buffers and texts, and the report of the result code.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "api_binding.h"
#include "current_charset.h"
#include "orva_result_codes.h"
#include "output_buffer.h"
#include "win32/com.h"

namespace orva::control {

// The control's process-wide state: the binding and CurrentCharset, behind
// the lock that serialises every method (the class is registered "both").
struct ControlState {
    std::mutex lock;
    frontend::ApiBinding binding{0};
    frontend::CurrentCharset charset;
};
ControlState& controlState() noexcept;

// The library's function table once the binding stands, else null.
const frontend::ApiFunctionTable* boundApi() noexcept;

// The HRESULT of a result code; negative codes leave their text as the
// thread's error information.
HRESULT reportError(ApiErrorCode code) noexcept;

// The text a code shows, in UTF-16 within 260 units with its NUL.
void lookupErrorMessage(ApiErrorCode code, OLECHAR (&message)[MAX_PATH]) noexcept;

// Runs body under the lock; what it throws becomes kMallocFailed (memory) or kOperationFailed.
template <class Body>
HRESULT runMethod(Body&& body) noexcept {
    ApiErrorCode code = kOperationFailed;
    try {
        const std::lock_guard guard(controlState().lock);
        code = body();
    } catch (const std::bad_alloc&) {
        code = kMallocFailed;
    } catch (...) {
        code = kOperationFailed;
    }
    return reportError(code);
}

// How an export's output text is encoded.
enum class OutputText { ansi, utf8 };

// A BSTR method's start: the empty preset; kInvalidParameter for a null [out,retval],
// kMallocFailed when the preset cannot be had, kDriverNotInstalled when the library is not bound.
ApiErrorCode startTextMethod(BSTR* result, const frontend::ApiFunctionTable** api);

// Replaces the preset with the export's text; kMallocFailed when no BSTR can be had.
ApiErrorCode storeText(BSTR* result, const char* text, OutputText encoding);

// An INT method: the preset (if the method has one) stays when the library
// cannot be bound; otherwise the INT is the code. body takes the table.
template <class Body>
HRESULT runIntMethod(INT* result, std::optional<ApiErrorCode> preset, Body&& body) noexcept {
    return runMethod([&]() -> ApiErrorCode {
        if (result == nullptr) {
            return kInvalidParameter;
        }
        if (preset) {
            *result = preset->number();
        }
        const frontend::ApiFunctionTable* api = boundApi();
        if (api == nullptr) {
            if (!preset) {
                *result = kDriverNotInstalled.number();
            }
            return kDriverNotInstalled;
        }
        const ApiErrorCode code = body(*api);
        *result = code.number();
        return code;
    });
}

// A BSTR method: preset, bind, then body(table).
template <class Body>
HRESULT runTextMethod(BSTR* result, Body&& body) noexcept {
    return runMethod([&]() -> ApiErrorCode {
        const frontend::ApiFunctionTable* api = nullptr;
        const ApiErrorCode started = startTextMethod(result, &api);
        return started != kSuccess ? started : body(*api);
    });
}

// A text export called with a buffer of `size` bytes; its text on 0.
template <class Call>
ApiErrorCode textExport(BSTR* result, std::size_t size, OutputText encoding, Call&& call) {
    // One zero byte past the stated size, so the text always ends within it.
    auto buffer = frontend::OutputBuffer::required(size, 1);
    const ApiErrorCode code{call(buffer.data(), buffer.length())};
    return code == kSuccess ? storeText(result, buffer.data(), encoding) : code;
}

}  // namespace orva::control
