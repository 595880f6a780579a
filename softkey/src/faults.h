#pragma once

// Faults the tests switch on in the store's faults.json, read on every call:
//   {"pulled": "before" | "<function>", "pulledSerial": "<SN>",
//    "refuseExternAuth": true,
//    "fail": {"<function>": <status> | {"status": <status>, "count": <n>, "after": <n>}},
//    "failWrites": true}
// Statuses are numbers or "0x…" texts. A pull-out fires once and is then
// removed; a counted failure fires count times, then is removed; with "after"
// that many calls pass before it fires.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

namespace orva::softkey {

struct FailRule {
    std::uint32_t status = 0;
    std::optional<std::uint32_t> count;  // none: every call
    std::uint32_t after = 0;             // calls that pass before it fires
};

struct Faults {
    // "before": the keys are pulled out when the next NDGetSlotList starts; a
    // function name: when that function is entered.
    std::optional<std::string> pulled;
    std::optional<std::string> pulledSerial;  // which key; none: the call's key (or every key)
    bool refuseExternAuth = false;
    bool failWrites = false;
    std::map<std::string, FailRule, std::less<>> fail;
};

inline constexpr const char* kFaultsFile = "faults.json";
inline constexpr const char* kPulledBefore = "before";
// While this store file exists, the maker's libraries append each call to kTraceFile.
inline constexpr const char* kTraceSwitch = "trace";
inline constexpr const char* kTraceFile = "trace.log";

// The faults in force (none when faults.json is absent). Throws StoreError
// (malformed) when faults.json is not valid.
Faults readFaults(const Store& store);

// What every call of the maker's libraries checks first, from one look at the
// store's folder: whether calls are traced, and the faults in force.
struct CallSwitches {
    bool tracing = false;
    Faults faults;
};
CallSwitches readCallSwitches(const Store& store);
void writeFaults(Store& store, const Faults& faults);

std::string faultsToJson(const Faults& faults);
Faults faultsFromJson(std::string_view text);

// The status a function is told to fail with, counting the call when the rule
// has a count. seen: the faults the caller has just read (else they are read).
std::optional<std::uint32_t> takeFailure(Store& store, std::string_view function,
                                         const Faults* seen = nullptr);

// Whether a pull-out is due when function is entered ("before" counts as
// NDGetSlotList); if so it is removed from faults.json and returned.
std::optional<Faults> takePullOut(Store& store, std::string_view function,
                                  const Faults* seen = nullptr);

// Pulls out the keys a fired pull-out names: pulledSerial, else those given.
void pullOut(Store& store, const Faults& fired, const std::vector<std::string>& serials);

}  // namespace orva::softkey
