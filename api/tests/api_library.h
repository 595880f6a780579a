#pragma once

// ORVA_API.so as a front end meets it: loaded by name from a folder, its
// exports found with GetProcAddress and called through their own types.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "orva_api.h"
#include "test_environment.h"
#include "win32/module.h"

namespace orva::api::test {

class ApiLibrary {
  public:
    explicit ApiLibrary(const fs::path& folder = binFolder())
        : module_(LoadLibraryA((folder / "ORVA_API.dll").c_str())) {}

    bool loaded() const noexcept { return module_ != nullptr; }
    HMODULE handle() const noexcept { return module_.get(); }
    void unload() noexcept { module_.reset(); }

    template <class Function>
    Function get(const char* name) const {
        const FARPROC address = GetProcAddress(module_.get(), name);
        if (!address) {
            throw std::runtime_error(std::string("not exported: ") + name);
        }
        return reinterpret_cast<Function>(address);
    }

  private:
    Module module_;
};

// The export `name` of a loaded library, with the type orva_api.h gives it.
#define ORVA_API_FN(library, name) (library).get<decltype(&::name)>(#name)

// A text export called twice, as front ends call it: once for the size, once
// with a buffer of that size.
struct TextResult {
    int code;
    std::string text;
    int length;
};

template <class Export>
TextResult callForText(Export call) {
    int length = 0;
    int code = call(nullptr, &length);
    if (code != 0) {
        return {code, {}, length};
    }
    std::string buffer(static_cast<std::size_t>(length), '\x5A');
    code = call(buffer.data(), &length);
    if (code != 0) {
        return {code, {}, length};
    }
    return {code, std::string(buffer.c_str()), length};
}

}  // namespace orva::api::test
