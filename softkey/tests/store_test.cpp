// The store of software keys: the key model and its JSON form, atomic changes
// shared between processes, the scripted user, the display log and faults.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "csp_containers.h"
#include "faults.h"
#include "folder_listing.h"
#include "json.h"
#include "key_crypto.h"
#include "maker/dravik.h"
#include "orva/testing/support.h"
#include "registrations.h"
#include "store.h"
#include "store_test_support.h"
#include "token.h"
#include "user.h"

namespace orva::softkey {
namespace {

using test::readFile;
using test::TempStore;

const SecureString& sm2Key() {
    static const SecureString key = generateKeyPair(kAlgSm2).privatePem;
    return key;
}

// A key with one container holding a bound SM2 signature key and a certificate.
Token sampleToken(const std::string& serial = "SK0001") {
    Token t = newToken(serial, "123456", "test key");
    const std::uint32_t index = addContainer(t, "c-one");
    storeKeyPair(t, 1, sm2Key(), publicKeyFile(sm2Key()));
    bindKey(t, index, 1, 3, kAlgSm2);
    setCertificate(t, index, DRV_FILE_SIGN_CERT, Bytes{0x30, 0x03, 0x02, 0x01, 0x01});
    return t;
}

std::string text(const Token& t) {
    const SecureString s = tokenToJson(t);
    return std::string(s.begin(), s.end());
}

std::uint32_t statusOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const TokenError& e) {
        return e.status;
    }
    return DRV_OK;
}

// The kind of store error f throws, if any.
std::optional<StoreErrorKind> storeErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const StoreError& e) {
        return e.kind;
    }
    return std::nullopt;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(TokenJson, RoundTripKeepsEverythingButThePinText) {
    Token t = sampleToken();
    t.languages = {1, 2, 7};
    t.language = 7;
    t.adminState = 2;
    t.randomForEnc = Bytes(15, 0xAB);
    const std::string json = text(t);
    EXPECT_EQ(json.find("123456"), std::string::npos) << "the PIN is stored in the clear";

    const Token back = tokenFromJson(json);
    EXPECT_EQ(text(back), json);
    EXPECT_TRUE(pinMatches(back, "123456"));
    EXPECT_FALSE(pinMatches(back, "123457"));
    EXPECT_EQ(back.containers.at(1).signature.privateFid, 1u);
    EXPECT_EQ(back.keyFiles.at(1).privatePem, sm2Key());
}

TEST(TokenJson, MalformedFilesAreRefused) {
    // A good file and one mutation each.
    const std::string good = text(sampleToken());
    const auto mutate = [&](const std::function<void(cJSON*)>& change) {
        json::Ptr doc = json::parse(good);
        change(doc.get());
        const SecureString s = json::print(doc.get(), false);
        return std::string(s.begin(), s.end());
    };
    const auto container = [](cJSON* r) {
        return cJSON_GetArrayItem(cJSON_GetObjectItem(r, "containers"), 0);
    };
    const auto set = [](cJSON* o, const char* name, cJSON* value) {
        cJSON_ReplaceItemInObject(o, name, value);
    };
    // The good file with one member of the top object (""), the PIN or the container replaced.
    const auto with = [&](const std::string& in, const char* name, cJSON* value) {
        return mutate([&](cJSON* r) {
            set(in.empty()          ? r
                : in == "container" ? container(r)
                                    : cJSON_GetObjectItem(r, "pin"),
                name, value);
        });
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"not JSON", "{"},
        {"trailing text", good + "x"},
        {"serial with a slash", with("", "serial", cJSON_CreateString("a/b"))},
        {"no pin", mutate([](cJSON* r) { cJSON_DeleteItemFromObject(r, "pin"); })},
        {"tries above max", with("pin", "triesLeft", cJSON_CreateNumber(7))},
        {"fractional tries", with("pin", "triesLeft", cJSON_CreateNumber(2.5))},
        {"short device key", with("", "deviceKey", cJSON_CreateString("00"))},
        {"bad hex", with("", "tempKey", cJSON_CreateString("0g"))},
        {"temp key too long",
         with("", "tempKey", cJSON_CreateString(std::string(130, 'a').c_str()))},
        {"index 0", with("container", "index", cJSON_CreateNumber(0))},
        {"index 256", with("container", "index", cJSON_CreateNumber(256))},
        {"name too long",
         with("container", "name", cJSON_CreateString(std::string(260, 'n').c_str()))},
        {"same index twice", mutate([&](cJSON* r) {
             cJSON* copy = cJSON_Duplicate(container(r), true);
             set(copy, "name", cJSON_CreateString("other"));
             cJSON_AddItemToArray(cJSON_GetObjectItem(r, "containers"), copy);
         })},
        {"key bound twice", mutate([&](cJSON* r) {
             cJSON* slot = cJSON_GetObjectItem(container(r), "exchange");
             set(slot, "algorithm", cJSON_CreateNumber(10));
             set(slot, "privateFid", cJSON_CreateNumber(1));
         })},
        {"missing key file", mutate([&](cJSON* r) { cJSON_DeleteItemFromObject(r, "keyFiles"); })},
        {"even key file id", mutate([&](cJSON* r) {
             set(cJSON_GetArrayItem(cJSON_GetObjectItem(r, "keyFiles"), 0), "privateFid",
                 cJSON_CreateNumber(2));
         })},
        {"certificate too long", mutate([&](cJSON* r) {
             set(cJSON_GetObjectItem(container(r), "signature"), "certificate",
                 cJSON_CreateString(toBase64(Bytes(4097, 1)).c_str()));
         })},
    };
    for (const auto& [what, json] : cases) {
        // Captured by name: older compilers do not capture a structured binding.
        EXPECT_EQ(statusOf([&json = json] { tokenFromJson(json); }), DRV_E_INTERNAL) << what;
    }
}

TEST(TokenJson, EncodingsRoundTripAndRejectBadText) {
    for (std::size_t n = 0; n <= 5; ++n) {
        Bytes bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
        }
        EXPECT_EQ(fromBase64(toBase64(bytes)), bytes) << n;
        EXPECT_EQ(fromHex(toHex(bytes)), bytes) << n;
    }
    EXPECT_EQ(toBase64(Bytes{'f', 'o', 'o', 'b'}), "Zm9vYg==");
    // OpenSSL's decoder under it skips blanks and reads '=' anywhere as zero
    // bits; the store's files hold the strict form only.
    for (const char* bad : {"Zm9", "Zm9vYg=", "Z=9v", "Zm=v", "Zm9v\n", "Zm9*",
                            "Z===", "====", "Zg==Zg==", " Zg=", "Zg= ", "Zm9 Zm9v"}) {
        EXPECT_FALSE(fromBase64(bad)) << bad;
    }
    EXPECT_FALSE(fromHex("abc"));
    EXPECT_EQ(fromHex("ABcd"), (Bytes{0xAB, 0xCD}));
}

TEST(TokenRules, ContainersTakeTheLowestFreeIndexAndKeepTheirs) {
    Token t = newToken("SK1", "1234");
    EXPECT_EQ(addContainer(t, "a"), 1u);
    EXPECT_EQ(addContainer(t, "b"), 2u);
    EXPECT_EQ(addContainer(t, "c"), 3u);
    removeContainer(t, 2);
    EXPECT_EQ(t.containers.count(3), 1u) << "indexes are never renumbered";
    EXPECT_EQ(addContainer(t, "d"), 2u);
    EXPECT_EQ(statusOf([&] { addContainer(t, "a"); }), DRV_E_EXISTS);
    EXPECT_EQ(statusOf([&] { addContainer(t, ""); }), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(statusOf([&] { addContainer(t, std::string(260, 'x')); }), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(statusOf([&] { addContainer(t, std::string(259, 'x')); }), DRV_OK);
    t.capacity = 4;
    EXPECT_EQ(statusOf([&] { addContainer(t, "full"); }), DRV_E_NO_SPACE);
    EXPECT_EQ(statusOf([&] { removeContainer(t, 9); }), DRV_E_NOT_FOUND);
}

TEST(TokenRules, PrivateKeyFilesAreOddAndTheirPublicFileFollows) {
    Token t = newToken("SK1", "1234");
    const Bytes pub = publicKeyFile(sm2Key());
    EXPECT_EQ(freePrivateFid(t), 1u);
    storeKeyPair(t, 1, sm2Key(), pub);
    storeKeyPair(t, 5, sm2Key(), pub);
    EXPECT_EQ(freePrivateFid(t), 3u);
    EXPECT_EQ(findByPublicFid(t, 6), &t.keyFiles.at(5));
    EXPECT_EQ(findByPublicFid(t, 5), nullptr);
    EXPECT_EQ(findByPublicFid(t, 4), nullptr);
    EXPECT_EQ(statusOf([&] { storeKeyPair(t, 2, sm2Key(), pub); }), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(statusOf([&] { storeKeyPair(t, 99, sm2Key(), pub); }), DRV_E_BAD_ARGUMENT);
    for (std::uint32_t fid = 1; fid <= kLastPrivateFid; fid += 2) {
        storeKeyPair(t, fid, sm2Key(), pub);
    }
    EXPECT_EQ(t.keyFiles.size(), kMaxKeyFiles);
    EXPECT_FALSE(freePrivateFid(t));
}

TEST(TokenRules, BindingSetsTheContainerWords) {
    Token t = newToken("SK1", "1234");
    const std::uint32_t index = addContainer(t, "c");
    const Bytes pub = publicKeyFile(sm2Key());
    storeKeyPair(t, 3, sm2Key(), pub);
    storeKeyPair(t, 7, sm2Key(), pub);

    EXPECT_EQ(statusOf([&] { bindKey(t, index, 3, 3, kAlgRsa2048); }), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(statusOf([&] { bindKey(t, index, 9, 3, kAlgSm2); }), DRV_E_NOT_FOUND);
    EXPECT_EQ(statusOf([&] { bindKey(t, index, 3, 5, kAlgSm2); }), DRV_E_BAD_ARGUMENT);
    bindKey(t, index, 3, 3, kAlgSm2);
    bindKey(t, index, 7, 1, kAlgSm2);
    setCertificate(t, index, DRV_FILE_EXCH_CERT, Bytes{1, 2, 3});

    const auto w = containerWords(index, t.containers.at(index));
    // Words: 0 index, 1 usage, 2/3 signature/exchange algorithm, 5/6 signature key/certificate
    // present, 8/9 exchange key/certificate present, 10 key word = signature private-key file,
    // 11 signature public-key file, 17 exchange public-key file, 22 type = the usage bound with.
    const std::vector<std::pair<std::size_t, std::uint32_t>> words = {
        {0, index}, {1, 2}, {2, 10}, {3, 10}, {5, 1},  {6, 0},
        {8, 1},     {9, 1}, {10, 3}, {11, 4}, {17, 8}, {22, 3}};
    for (const auto& [word, value] : words) {
        EXPECT_EQ(w[word], value) << "word " << word;
    }

    // A key bound elsewhere cannot move; a new key replaces the slot's old one.
    const std::uint32_t other = addContainer(t, "other");
    EXPECT_EQ(statusOf([&] { bindKey(t, other, 3, 2, kAlgSm2); }), DRV_E_CONDITIONS);
    EXPECT_EQ(statusOf([&] { storeKeyPair(t, 3, sm2Key(), pub); }), DRV_E_CONDITIONS);
    storeKeyPair(t, 9, sm2Key(), pub);
    bindKey(t, index, 9, 1, kAlgSm2);
    EXPECT_FALSE(t.keyFiles.contains(7));

    removeContainer(t, index);
    EXPECT_FALSE(t.keyFiles.contains(3));
    EXPECT_FALSE(t.keyFiles.contains(9));
}

TEST(TokenRules, AdminRecordShowsTheState) {
    Token t = newToken("SK1", "1234");
    const std::string one = adminKeyRecord(t);
    ASSERT_EQ(one.size(), 24u);
    EXPECT_EQ(one.substr(2, 2), "00");
    t.adminState = 2;
    const std::string two = adminKeyRecord(t);
    EXPECT_EQ(two.substr(2, 2), "01");
    EXPECT_EQ(one.substr(4), two.substr(4));
}

TEST(TokenRules, SerialsAreSafeFileNames) {
    EXPECT_TRUE(isValidSerial("SK-0001_a.b"));
    EXPECT_TRUE(isValidSerial(std::string(63, 'A')));
    for (const std::string& bad :
         std::vector<std::string>{"", ".hidden", "a/b", "..", "a b", std::string(64, 'A')}) {
        EXPECT_FALSE(isValidSerial(bad)) << bad;
    }
}

class StoreTest : public ::testing::Test {
  protected:
    // Creates the sample key; the path of its file.
    std::string createSample() {
        store_.create(sampleToken());
        return store_.keyPath("SK0001", KeyPlace::present).string();
    }

    TempStore temp_;
    Store& store_ = temp_.store();
};

TEST_F(StoreTest, KeysMoveBetweenPresentAndRemoved) {
    EXPECT_TRUE(store_.serials(KeyPlace::present).empty()) << "an empty store is no error";
    store_.create(sampleToken("SK2"));
    store_.create(sampleToken("SK1"));
    store_.create(sampleToken("SK1-2"));
    store_.create(sampleToken("SK3"), KeyPlace::removed);
    // A dangling link in a folder is passed over, not an error of the listing.
    std::filesystem::create_symlink("nowhere", temp_.path("present/dangling.json"));
    std::filesystem::create_symlink("nowhere", temp_.path("dangling"));
    EXPECT_EQ(store_.serials(KeyPlace::present), (std::vector<std::string>{"SK1", "SK1-2", "SK2"}))
        << "in serial order, not in the order of their file names";
    EXPECT_FALSE(store_.has("faults.json"));
    EXPECT_EQ(store_.serials(KeyPlace::removed), (std::vector<std::string>{"SK3"}));

    EXPECT_EQ(storeErrorOf([&] { store_.create(sampleToken("SK3")); }), StoreErrorKind::exists)
        << "a serial was taken twice";

    store_.unplug("SK1");
    EXPECT_EQ(store_.placeOf("SK1"), KeyPlace::removed);
    EXPECT_EQ(storeErrorOf([&] { store_.readPresent("SK1"); }), StoreErrorKind::notPresent);
    EXPECT_EQ(store_.read("SK1").serial, "SK1");
    store_.plug("SK1");
    store_.plug("SK1");
    EXPECT_EQ(store_.placeOf("SK1"), KeyPlace::present);
    store_.erase("SK2");
    EXPECT_FALSE(store_.placeOf("SK2"));
    EXPECT_FALSE(store_.placeOf("../SK1"));
}

TEST_F(StoreTest, ChangesReplaceTheFileAtomically) {
    const std::string path = createSample();
    const ino_t before = inodeOf(path);

    store_.update("SK0001", true, [](Token& t) { t.label = "changed"; });
    EXPECT_NE(inodeOf(path), before) << "the file was rewritten in place, not replaced";
    EXPECT_EQ(store_.read("SK0001").label, "changed");

    const ino_t replaced = inodeOf(path);
    const int got = store_.update("SK0001", true, [](Token&) { return 7; });
    EXPECT_EQ(got, 7);
    EXPECT_EQ(inodeOf(path), replaced) << "a change that changed nothing wrote the file";

    for (const auto& entry : std::filesystem::directory_iterator(store_.root() / "present")) {
        EXPECT_EQ(entry.path().filename(), "SK0001.json") << "a temporary file was left";
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "private keys are readable by others";
}

TEST_F(StoreTest, FailedOrAbortedChangesLeaveTheOldKey) {
    const std::string path = createSample();
    const Bytes original = readFile(path);

    store_.setFailWrites(true);
    EXPECT_EQ(
        storeErrorOf([&] { store_.update("SK0001", true, [](Token& t) { t.label = "lost"; }); }),
        StoreErrorKind::writeFailed)
        << "a write fault was not reported";
    store_.setFailWrites(false);
    EXPECT_EQ(readFile(path), original);

    EXPECT_THROW(store_.update("SK0001", true,
                               [](Token& t) {
                                   t.label = "half";
                                   throw std::runtime_error("crash in the middle");
                               }),
                 std::runtime_error);
    EXPECT_EQ(readFile(path), original);

    // A writer that died between writing its temporary file and renaming it.
    test::writeFile(path + ".tmp.999999", std::string_view("{\"serial\": \"SK0001\", trunc"));
    EXPECT_EQ(store_.serials(KeyPlace::present), std::vector<std::string>{"SK0001"});
    EXPECT_EQ(store_.read("SK0001").label, "test key");
    store_.update("SK0001", true, [](Token& t) { t.label = "after"; });
    EXPECT_EQ(store_.read("SK0001").label, "after");
}

TEST_F(StoreTest, AWriterKilledHoldingTheLockLeavesTheKeyAndFreesTheLock) {
    const std::string path = createSample();
    const Bytes original = readFile(path);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        store_.update("SK0001", true, [](Token& t) {
            t.label = "never written";
            _exit(0);
        });
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(readFile(path), original);
    store_.update("SK0001", true, [](Token& t) { t.label = "next"; });
    EXPECT_EQ(store_.read("SK0001").label, "next");
}

TEST_F(StoreTest, TwoProcessesChangingOneKeyLoseNothing) {
    store_.create(sampleToken());
    constexpr int kRounds = 40;
    const auto bump = [&] {
        for (int i = 0; i < kRounds; ++i) {
            store_.update("SK0001", true, [](Token& t) {
                t.label = std::to_string(std::stoi(t.label.empty() ? "0" : t.label) + 1);
            });
        }
    };
    store_.update("SK0001", true, [](Token& t) { t.label = "0"; });
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            bump();
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    bump();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(store_.read("SK0001").label, std::to_string(2 * kRounds));
}

// Reads after the first come from the process's parsed copy, but every kind
// of change to the file shows at the next read.
TEST_F(StoreTest, AKeyReadBeforeIsReadAgainWhenItsFileChanges) {
    const std::string path = createSample();
    EXPECT_EQ(store_.read("SK0001").label, "test key");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        store_.update("SK0001", true, [](Token& t) { t.label = "by the child"; });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(store_.readPresent("SK0001")->label, "by the child");

    // Replaced by a file of the same size (a new inode), then rewritten in place.
    Token edited = sampleToken();
    edited.label = "by the hand!";
    const SecureString same = tokenToJson(edited);
    ASSERT_EQ(same.size(), readFile(path).size());
    test::writeFile(path + ".new", std::string_view(same.data(), same.size()));
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(store_.read("SK0001").label, "by the hand!");
    edited.label = "in place";
    const SecureString inPlace = tokenToJson(edited);
    test::writeFile(path, std::string_view(inPlace.data(), inPlace.size()));
    EXPECT_EQ(store_.read("SK0001").label, "in place");

    // A change made here is read back without a new parse, and kept.
    store_.update("SK0001", true, [](Token& t) { t.label = "here"; });
    EXPECT_EQ(store_.read("SK0001").label, "here");
    EXPECT_EQ(tokenFromJson(test::readText(path)).label, "here");

    store_.erase("SK0001");
    EXPECT_EQ(storeErrorOf([&] { store_.read("SK0001"); }), StoreErrorKind::notFound);
}

// The store's folder and present/ are listed once per version of the folder:
// a change by another hand shows at the next look, made right after a look (in
// the same tick of the clock that stamps the folder) or once the folder settled.
TEST_F(StoreTest, EveryChangeOfAStoreFolderShowsAtTheNextLook) {
    createSample();
    store_.create(sampleToken("SK0002"), KeyPlace::removed);
    const std::string removed = store_.keyPath("SK0002", KeyPlace::removed).string();
    const std::string present = store_.keyPath("SK0002", KeyPlace::present).string();
    const auto presentKeys = [&] {
        return ::testing::PrintToString(store_.serials(KeyPlace::present));
    };
    const auto switches = [&] {
        const CallSwitches s = readCallSwitches(store_);
        return std::string(s.tracing ? "trace" : "-") +
               (s.faults.refuseExternAuth ? " refuse" : "") +
               (s.faults.failWrites ? " failWrites" : "");
    };
    struct Row {
        const char* change;
        std::function<void()> make;
        std::function<std::string()> look;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"plugged in by a rename",
         [&] { ASSERT_EQ(::rename(removed.c_str(), present.c_str()), 0); }, presentKeys,
         R"({ "SK0001", "SK0002" })"},
        {"pulled out by a rename",
         [&] { ASSERT_EQ(::rename(present.c_str(), removed.c_str()), 0); }, presentKeys,
         R"({ "SK0001" })"},
        {"trace switched on", [&] { temp_.put(kTraceSwitch, ""); }, switches, "trace"},
        {"faults written", [&] { temp_.put(kFaultsFile, R"({"refuseExternAuth": true})"); },
         switches, "trace refuse"},
        {"faults edited in place", [&] { temp_.put(kFaultsFile, R"({"failWrites": true})"); },
         switches, "trace failWrites"},
        {"trace switched off", [&] { ASSERT_EQ(::unlink(temp_.path(kTraceSwitch).c_str()), 0); },
         switches, "- failWrites"},
        {"faults removed", [&] { ASSERT_EQ(::unlink(temp_.path(kFaultsFile).c_str()), 0); },
         switches, "-"},
    };
    for (const bool settled : {false, true}) {
        for (const Row& row : rows) {
            if (settled) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            const std::string before = row.look();
            row.make();
            EXPECT_EQ(row.look(), row.expected) << row.change << (settled ? ", settled" : "");
            EXPECT_NE(before, row.expected) << row.change;
        }
        // The rows leave the store as they found it, for the second pass.
    }
}

// A listing is kept only when no later change can give the folder the same
// times: nanosecond stamps strictly behind the clock, whole-second ones two
// seconds behind it.
TEST(FolderListing, AStampIsSettledOnlyWhenALaterChangeGivesOtherTimes) {
    const struct {
        timespec stamp;
        timespec now;
        bool settled;
    } rows[] = {
        {{100, 5}, {100, 5}, false}, {{100, 5}, {100, 6}, true},
        {{100, 6}, {100, 5}, false}, {{100, 999999999}, {101, 0}, true},
        {{100, 0}, {102, 0}, false}, {{100, 0}, {102, 999999999}, false},
        {{100, 0}, {103, 0}, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(stampSettled(row.stamp, row.now), row.settled)
            << row.stamp.tv_sec << "." << row.stamp.tv_nsec << " at " << row.now.tv_sec << "."
            << row.now.tv_nsec;
    }
}

TEST_F(StoreTest, AMalformedKeyIsAnErrorAndIsNeverOverwritten) {
    const std::string path = createSample();
    const std::string broken = "{\"serial\": \"SK0001\", \"pin\": 5}";
    test::writeFile(path, broken);
    EXPECT_EQ(storeErrorOf([&] { store_.read("SK0001"); }), StoreErrorKind::malformed);
    EXPECT_EQ(storeErrorOf([&] { store_.update("SK0001", true, [](Token& t) { t.label = "x"; }); }),
              StoreErrorKind::malformed);
    EXPECT_EQ(test::readText(path), broken);

    // A file holding another key's serial is malformed too.
    Token other = sampleToken("SK0002");
    const SecureString json = tokenToJson(other);
    test::writeFile(path, std::string_view(json.data(), json.size()));
    EXPECT_THROW(store_.read("SK0001"), StoreError);
}

// cJSON decodes \u0000 into its C strings, cutting them short: a file holding
// a NUL in a string (or a name) is malformed, whichever reader meets it, and is
// never written back.
TEST_F(StoreTest, ANulInAStringMakesEveryStoreFileMalformedAndLeavesItAlone) {
    createSample();
    ASSERT_TRUE(csp::createContainer(store_, "c1"));
    const std::string key = text(sampleToken());
    const std::string salt = "\"salt\":\t\"";
    const std::string cspFile =
        "csp/" + std::filesystem::directory_iterator(temp_.path("csp"))->path().filename().string();
    const auto readKey = [&] { store_.read("SK0001"); };
    const auto changeKey = [&] { store_.update("SK0001", true, [](Token& t) { t.label = "x"; }); };
    const auto readUser = [&] { scriptedUser(store_, "SK1"); };
    const auto changeUser = [&] {
        setScriptedUser(store_, std::nullopt, ScriptedUser{Button::cancel, {}, {}});
    };
    const auto readRegistered = [&] { pelnor::readRegistrations(store_); };
    const auto readCsp = [&] { csp::readContainer(store_, "c1"); };
    constexpr char kRawNul[] =
        "{\"pin\": \"24\0"
        "6810\"}";
    const auto changeCsp = [&] { csp::updateContainer(store_, "c1", [](csp::Container&) {}); };
    const struct {
        const char* what;
        std::string file;
        std::string text;
        std::vector<std::function<void()>> readers;
    } cases[] = {
        {"salt",
         "present/SK0001.json",
         std::string(key).insert(key.find(salt) + salt.size() + 2, "\\u0000"),
         {readKey, changeKey}},
        {"member name",
         "present/SK0001.json",
         std::string(key).insert(1, "\"later\\u0000name\": 1,"),
         {readKey, changeKey}},
        {"user PIN", "user.json", R"({"pin": "24\u00006810"})", {readUser, changeUser}},
        {"raw NUL", "user.json", std::string(kRawNul, sizeof kRawNul - 1), {readUser, changeUser}},
        {"faults", "faults.json", R"({"pulled": "NDOpen\u0000"})", {[&] { readFaults(store_); }}},
        {"registration",
         "registered.json",
         R"({"registrations": [{"certificate": "MAMCAQE=", "provider": "P\u0000Q",)"
         R"( "container": "c1", "keySpec": 2}]})",
         {readRegistered}},
        {"CSP container", cspFile, R"({"name": "6331\u0000"})", {readCsp, changeCsp}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        temp_.put(c.file, c.text);
        for (const auto& reader : c.readers) {
            EXPECT_EQ(storeErrorOf(reader), StoreErrorKind::malformed);
        }
        EXPECT_EQ(test::readText(temp_.path(c.file)), c.text);
    }

    // An escaped backslash before "u0000" is text, not a NUL.
    temp_.put("user.json", R"({"pin": "\\u0000"})");
    EXPECT_EQ(scriptedUser(store_, "SK1").pin, SecureString("\\u0000"));
}

// A FIFO (or another file that is not a regular one) where a store file
// belongs fails its reader or writer at once, in a guarded child so that a
// regression fails the test rather than hanging it.
TEST_F(StoreTest, AFifoInPlaceOfAStoreFileFailsAtOnce) {
    const std::string key = createSample();
    const struct {
        std::string file;
        std::function<void()> use;
        StoreErrorKind kind;
    } cases[] = {
        {key, [&] { store_.read("SK0001"); }, StoreErrorKind::malformed},
        {temp_.path("user.json"), [&] { scriptedUser(store_, "SK1"); }, StoreErrorKind::malformed},
        {temp_.path("faults.json"), [&] { readFaults(store_); }, StoreErrorKind::malformed},
        {temp_.path("display.log"), [&] { appendDisplayShow(store_, DisplayShow{}); },
         StoreErrorKind::io},
        {temp_.path("lock"),
         [&] { store_.update("SK0001", true, [](Token& t) { t.label = "x"; }); },
         StoreErrorKind::io},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (!store_.placeOf("SK0001")) {
            store_.create(sampleToken());  // the first case took its file
        }
        std::filesystem::remove(c.file);
        ASSERT_EQ(::mkfifo(c.file.c_str(), 0600), 0);
        const int kind = orva::testing::exitOfGuardedChild([&] {
            const auto thrown = storeErrorOf(c.use);
            return thrown ? static_cast<int>(*thrown) : 100;
        });
        EXPECT_EQ(kind, static_cast<int>(c.kind));
        EXPECT_TRUE(std::filesystem::is_fifo(c.file));
        std::filesystem::remove(c.file);
    }
}

TEST_F(StoreTest, TheScriptedUserDefaultsToConfirmAndKeysOverrideFields) {
    ScriptedUser user = scriptedUser(store_, "SK1");
    EXPECT_EQ(user.button, Button::confirm);
    EXPECT_FALSE(user.pin);

    temp_.put("user.json", R"({"button": "timeout", "pin": "1111",
                               "keys": {"SK2": {"button": "cancel"}}})");
    user = scriptedUser(store_, "SK1");
    EXPECT_EQ(user.button, Button::timeout);
    EXPECT_EQ(user.pin, SecureString("1111"));
    user = scriptedUser(store_, "SK2");
    EXPECT_EQ(user.button, Button::cancel);
    EXPECT_EQ(user.pin, SecureString("1111")) << "a key's entry overrides only what it names";

    setScriptedUser(store_, std::string("SK2"),
                    ScriptedUser{Button::broken, SecureString("2222"), SecureString("3333")});
    user = scriptedUser(store_, "SK2");
    EXPECT_EQ(user.button, Button::broken);
    EXPECT_EQ(user.newPin, SecureString("3333"));
    EXPECT_EQ(scriptedUser(store_, "SK1").button, Button::timeout);

    for (const char* bad : {"[", R"({"button": "press"})", R"({"pin": ""})", R"({"keys": 3})"}) {
        temp_.put("user.json", bad);
        EXPECT_THROW(scriptedUser(store_, "SK1"), StoreError) << bad;
    }
}

TEST(DisplayText, DecodesInTheCharsetGivenOrNotAtAllAndLogsBoth) {
    const Bytes gbk = {0xD6, 0xD0, 0xCE, 0xC4};  // "中文"
    EXPECT_EQ(decodeCharset(gbk, 1), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(decodeCharset(gbk, 3), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_FALSE(decodeCharset(gbk, 2)) << "GBK bytes are not UTF-8";
    EXPECT_FALSE(decodeCharset(Bytes{0xD6}, 1)) << "a cut character";
    EXPECT_FALSE(decodeCharset(Bytes{'a'}, 4));
    EXPECT_EQ(decodeCharset(Bytes{}, 2), "");

    // Texts that expand the most still decode whole.
    const std::string euro = "\xE2\x82\xAC";
    const struct {
        Bytes text;
        std::int32_t charset;
        std::string utf8;
    } longest[] = {
        {Bytes(9, 0x80), 1, euro + euro + euro + euro + euro + euro + euro + euro + euro},
        {Bytes{0x80}, 1, euro},
        {Bytes{0xA2, 0xE3, 0xA2, 0xE3, 0xA2, 0xE3}, 3, euro + euro + euro},
        {Bytes{0x90, 0x30, 0x81, 0x30}, 3, "\xF0\x90\x80\x80"},  // U+10000
    };
    for (const auto& c : longest) {
        EXPECT_EQ(decodeCharset(c.text, c.charset), c.utf8) << c.text.size() << " bytes";
    }

    // A log line holds the bytes and the decoded text.
    DisplayShow show{.serial = "SK1",
                     .language = 2,
                     .charset = 2,
                     .warning = Bytes{0xFF},
                     .display = Bytes{'P', 'a', 'y'},
                     .form = 1,
                     .outcome = "signed",
                     .status = 0};
    const std::string line = displayLogLine(show, "2024-01-02T03:04:05.006Z");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const json::Ptr doc = json::parse(line);
    ASSERT_NE(doc, nullptr) << line;
    EXPECT_EQ(json::string(doc.get(), "serial"), "SK1");
    EXPECT_EQ(json::string(doc.get(), "display"), "Pay");
    EXPECT_EQ(json::string(doc.get(), "displayBase64"), "UGF5");
    EXPECT_EQ(json::string(doc.get(), "warningBase64"), "/w==");
    EXPECT_TRUE(cJSON_IsNull(json::member(doc.get(), "warning")));
    EXPECT_EQ(json::uint(doc.get(), "form"), 1u);
    EXPECT_EQ(json::string(doc.get(), "outcome"), "signed");
}

TEST_F(StoreTest, CountedFailuresAndPullOutsAreSpent) {
    temp_.put("faults.json", R"({"fail": {"QZReadSN": "0x6A82", "QZGetTemKey":
                                 {"status": 27012, "count": 2}},
                                 "pulled": "before"})");
    EXPECT_EQ(takeFailure(store_, "QZReadSN"), 0x6A82u);
    EXPECT_EQ(takeFailure(store_, "QZReadSN"), 0x6A82u) << "a rule without count stays";
    EXPECT_EQ(takeFailure(store_, "QZGetTemKey"), 27012u);
    EXPECT_EQ(takeFailure(store_, "QZGetTemKey"), 27012u);
    EXPECT_FALSE(takeFailure(store_, "QZGetTemKey"));
    EXPECT_FALSE(takeFailure(store_, "NDOpen"));

    EXPECT_FALSE(takePullOut(store_, "NDOpen"));
    EXPECT_TRUE(takePullOut(store_, "NDGetSlotList"));
    EXPECT_FALSE(takePullOut(store_, "NDGetSlotList"));
    EXPECT_EQ(readFaults(store_).fail.count("QZReadSN"), 1u);

    for (const char* bad :
         {R"({"fail": {"X": "0xZZ"}})", R"({"fail": {"X": -1}})", R"({"failWrites": 1})",
          R"({"pulled": ""})", R"({"pulledAfter": -1})"}) {
        temp_.put("faults.json", bad);
        EXPECT_THROW(readFaults(store_), StoreError) << bad;
    }
}

}  // namespace
}  // namespace orva::softkey
