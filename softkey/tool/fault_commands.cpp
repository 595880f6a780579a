// Faults the tests switch on in Dravik, and Dravik's call trace.

#include <algorithm>
#include <array>
#include <string_view>

#include "faults.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

// The functions that read faults.json: Dravik's working entries, Pelnor's
// registrations and qzcore3's entry points but those of its hash objects. A fault on any other name
// would never fire.
constexpr std::array<std::string_view, 58> kFaultableFunctions = {
    "NDEstablishContext",
    "NDReleaseContext",
    "NDTransmit",
    "NDOpen",
    "NDClose",
    "NDGetSlotList",
    "NDBeginTransaction",
    "NDEndTransaction",
    "QZVerifyPIN",
    "QZChangePIN",
    "QZExternAuth",
    "QZClearPINCache",
    "QZEnumContainer",
    "QZNewContainer",
    "QZDelContainer",
    "QZDelMultiContainers",
    "QZBindPriKeyToContainer",
    "QZWriteFileToContainer",
    "QZReadFileFromContainer",
    "QZGetContainerInfo",
    "QZGetFreePriKeyFID",
    "QZReadFile",
    "QZInitADF",
    "QZAsymGenerateKeyPair",
    "QZAsymSign",
    "QZReadSN",
    "QZGetRandomForEnc",
    "QZGetPubKeyIDs",
    "QZGetEncPubKey",
    "QZGetEncPubKey_New",
    "QZGetAdminKeyInfo",
    "QZGetLanguageList",
    "QZGetTemKey",
    "QZAsymImportKey_ORVA",
    "AuxRegUserCert",
    "AuxUnRegUserCert",
    "CPAcquireContext",
    "CPReleaseContext",
    "CPGenKey",
    "CPDeriveKey",
    "CPDestroyKey",
    "CPSetKeyParam",
    "CPGetKeyParam",
    "CPExportKey",
    "CPImportKey",
    "CPEncrypt",
    "CPDecrypt",
    "CPHashData",
    "CPHashSessionKey",
    "CPSignHash",
    "CPVerifySignature",
    "CPGenRandom",
    "CPGetUserKey",
    "CPSetProvParam",
    "CPGetProvParam",
    "CPGetHashParam",
    "CPDuplicateHash",
    "CPDuplicateKey",
};

std::string faultableFunction(std::string_view name) {
    if (std::find(kFaultableFunctions.begin(), kFaultableFunctions.end(), name) ==
        kFaultableFunctions.end()) {
        throw UsageError("'" + std::string(name) +
                         "' is not a function that faults reach (see softkey fault --help)");
    }
    return std::string(name);
}

bool onOff(std::string_view text, std::string_view what) {
    return parseChoice(text, {"off", "on"}, what) == 1;
}

// Changes faults.json under the store's lock; no fault left removes the file.
void changeFaults(Store& store, const std::function<void(Faults&)>& change) {
    store.modifyText(kFaultsFile, false, [&](std::optional<std::string> current) {
        Faults faults = current ? faultsFromJson(*current) : Faults{};
        change(faults);
        const bool none = !faults.pulled && !faults.pulledSerial && !faults.refuseExternAuth &&
                          !faults.failWrites && faults.fail.empty();
        return none ? std::nullopt : std::optional<std::string>(faultsToJson(faults));
    });
}

void expectWords(const Invocation& in, std::size_t count, const char* usage) {
    if (in.positional().size() != count) {
        throw UsageError(std::string("usage: softkey fault ") + usage);
    }
}

void refuseOption(const Invocation& in, const char* option, const char* kind) {
    if (in.has(option)) {
        throw UsageError(std::string("--") + option + " goes only with fault " + kind);
    }
}

}  // namespace

int runFault(Invocation& in) {
    const std::vector<std::string>& words = in.positional();
    const std::size_t kind = parseChoice(
        words[0], {"pulled", "refuse-auth", "fail", "writes", "show", "clear"}, "a fault");
    if (kind != 0) {
        refuseOption(in, "sn", "pulled");
    }
    if (kind != 2) {
        refuseOption(in, "count", "fail");
    }
    Store& store = in.store();
    switch (kind) {
        case 0: {
            expectWords(in, 2, "pulled before|FUNCTION [--sn SN]");
            const std::string when = words[1] == kPulledBefore ? std::string(kPulledBefore)
                                                               : faultableFunction(words[1]);
            const auto serial = in.value("sn");
            if (serial && !isValidSerial(*serial)) {
                throw UsageError("not a valid serial: '" + *serial + "'");
            }
            changeFaults(store, [&](Faults& f) {
                f.pulled = when;
                f.pulledSerial = serial;
            });
            break;
        }
        case 1: {
            expectWords(in, 2, "refuse-auth on|off");
            const bool on = onOff(words[1], "refuse-auth");
            changeFaults(store, [&](Faults& f) { f.refuseExternAuth = on; });
            break;
        }
        case 2: {
            expectWords(in, 3, "fail FUNCTION STATUS|off [--count N]");
            const std::string function = faultableFunction(words[1]);
            if (words[2] == "off") {
                refuseOption(in, "count", "fail FUNCTION STATUS");
                changeFaults(store, [&](Faults& f) { f.fail.erase(function); });
                break;
            }
            FailRule rule;
            rule.status = parseNumber(words[2], 0, UINT32_MAX, "STATUS", true);
            if (const auto count = in.value("count")) {
                rule.count = parseNumber(*count, 1, UINT32_MAX, "--count");
            }
            changeFaults(store, [&](Faults& f) { f.fail.insert_or_assign(function, rule); });
            break;
        }
        case 3: {
            expectWords(in, 2, "writes on|off");
            const bool on = onOff(words[1], "writes");
            changeFaults(store, [&](Faults& f) { f.failWrites = on; });
            break;
        }
        case 4:
            expectWords(in, 1, "show");
            print(faultsToJson(readFaults(store)));
            break;
        default:
            expectWords(in, 1, "clear");
            store.modifyText(kFaultsFile, false,
                             [](std::optional<std::string>) { return std::nullopt; });
            break;
    }
    return 0;
}

int runTrace(Invocation& in) {
    const std::size_t action =
        parseChoice(in.positional()[0], {"on", "off", "show", "clear"}, "the trace action");
    Store& store = in.store();
    switch (action) {
        case 0:
            store.modifyText(kTraceSwitch, false, [](std::optional<std::string> current) {
                return current ? current : std::optional<std::string>("");
            });
            break;
        case 1:
            store.modifyText(kTraceSwitch, false,
                             [](std::optional<std::string>) { return std::nullopt; });
            break;
        case 2:
            print(store.readText(kTraceFile).value_or(""));
            break;
        default:
            store.modifyText(kTraceFile, false,
                             [](std::optional<std::string>) { return std::nullopt; });
            break;
    }
    return 0;
}

}  // namespace orva::softkey::tool
