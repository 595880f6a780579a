#pragma once

// Dravik's handles: reader contexts and open devices, each in a table of live
// objects (handle_table.h).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handle_table.h"
#include "secure_bytes.h"

namespace orva::dravik {

using softkey::Bytes;

// A reader context: the keys NDGetSlotList last saw, slot id i = slots[i - 1].
struct Context {
    std::vector<std::string> slots;
};

// The transaction QZAsymSign operation 3 prepared for operation 5.
struct Prepared {
    Bytes transaction;
    std::uint32_t form = 0;
};

// An open key. Its content is re-read from the store on every call; what lives
// here is the session's own state.
struct Device {
    std::string serial;
    bool inTransaction = false;
    bool authenticated = false;
    bool pinVerified = false;          // the PIN cache
    std::optional<Prepared> prepared;  // op 3 waiting for op 5
    std::uint32_t cursor = 0;          // the container index the walk returned last

    // What QZClearPINCache and a re-initialisation forget.
    void forget() noexcept {
        pinVerified = false;
        prepared.reset();
    }
};

using softkey::HandleTable;

HandleTable<Context>& contexts();
HandleTable<Device>& devices();

}  // namespace orva::dravik
