// Dravik.so as the token API library meets it: sessions on the keys of a
// temporary store, container walks, the PIN, signatures (checked with openssl),
// the transaction shown to the scripted user, key import, faults and exports.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "envelope.h"
#include "faults.h"
#include "json.h"
#include "key_crypto.h"
#include "maker/dravik.h"
#include "maker_list_support.h"
#include "store_test_support.h"
#include "token.h"
#include "user.h"
#include "win32/module.h"

namespace orva::softkey {
namespace {

using test::openssl;
using test::readFile;
using test::TempStore;
using test::writeFile;

constexpr const char* kPin = "246810";
constexpr std::uint32_t kTries = kMaxPinTries;

// Dravik's exports in the order the token API library looks them up; "*" marks
// the 34 that work, the others answer "not supported".
constexpr std::string_view kExportList = R"(
    NDEstablishContext* NDReleaseContext* NDTransmit* NDOpen* NDClose* NDGetSlotList*
    NDGetSlotName NDOpenByName NDWaitForDevEvent NDCancelWaitForDevEvent NDBeginTransaction*
    NDEndTransaction* QZVerifyPIN* QZVerifyPINSetMode QZChangePIN* QZUnlockUserPIN
    QZGetPINRemainTimes QZIsDefaultPINChanged QZSCardGetPINStatus QZExternAuth*
    QZVerifyDevAuthKey QZChangeDevAuthKey QZClearPINCache* QZEnumContainer* QZOpenContainer
    QZNewContainer* QZDelContainer* QZDelMultiContainers* QZDeleteFileInContainer
    QZBindPriKeyToContainer* QZWriteFileToContainer* QZReadFileFromContainer* QZGetContainerName
    QZGetContainerInfo* QZGetContainersCount QZGetFreePriKeyFID* QZGetRelativeFIDInContainer
    QZCreateFile QZReadFile* QZWriteFile QZGetFileSize QZSelectFile QZDeleteFile QZInitADF*
    QZInitMF QZCreateADF QZSCardEraseEF QZSetCurrentADF QZGetCurrentADF QZPrepareBinFile
    QZGetFreeDataObjectFID QZRegisterDataObject QZGetDataObjectsList QZAsymGenerateKeyPair*
    QZAsymSign* QZAsymVerify QZAsymEncrypt QZAsymDecrypt QZAsymExchange QZAsymImportKey
    QZAsymImportKeyNoSymmParam QZAsymExportKey QZImportSessionKey QZSymmInitKey QZSymmEncrypt
    QZSymmDecrypt QZReadSN* QZWriteSN QZReadLabel QZWriteLabel QZReadTokenInfo QZWriteTokenInfo
    QZGetRandom QZGetFreeSpace QZGetLifeCycle QZSetLifeCycle QZGetATR QZGetProviderName
    QZGetRandomForEnc* QZGetPubKeyIDs* QZGetEncPubKey* QZGetEncPubKey_New* QZGetAdminKeyInfo*
    QZUpdateAdminKey QZGetLanguageList* QZGetTemKey* QZSecureInitADF QZAsymImportKey_ORVA*
)";

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes header(std::uint32_t form, std::uint8_t tag, std::size_t length) {
    if (form == 2) {
        Bytes out = {tag, 0, 0, 0, 0};
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(length >> shift));
        }
        return out;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02x%010zu", tag, length);
    return bytesOf(text);
}

Bytes element(std::uint32_t form, std::uint8_t tag, const Bytes& content) {
    return concat({header(form, tag, content.size()), content});
}

// The binary form puts the file before the display, the text form after it.
Bytes packet(std::uint32_t form, const Bytes& transaction, const Bytes& display,
             const Bytes& file = {}) {
    const Bytes t = element(form, 0x21, transaction);
    const Bytes d = element(form, 0x22, display);
    const Bytes f = element(form, 0x23, file);
    const Bytes body = form == 2 ? concat({t, f, d}) : concat({t, d, f});
    return concat({header(form, 0x11, body.size()), body});
}

Bytes derLength(std::size_t n) {
    if (n < 0x80) {
        return {static_cast<std::uint8_t>(n)};
    }
    if (n < 0x100) {
        return {0x81, static_cast<std::uint8_t>(n)};
    }
    return {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

Bytes der(std::uint8_t tag, const Bytes& content) {
    return concat({Bytes{tag}, derLength(content.size()), content});
}

// SubjectPublicKeyInfo of a public-key file as QZReadFile hands it out.
Bytes spkiOf(const Bytes& file) {
    if (file.size() == 68) {
        const Bytes prefix =
            test::fromHex("3059301306072a8648ce3d020106082a811ccf5501822d03420004");
        return concat({prefix, Bytes(file.begin() + 2, file.begin() + 34),
                       Bytes(file.begin() + 36, file.end())});
    }
    Bytes modulus(file.begin() + 2, file.end() - 5);
    if (modulus[0] & 0x80) {
        modulus.insert(modulus.begin(), 0);
    }
    const Bytes exponent(file.end() - 3, file.end());
    const Bytes rsaKey = der(0x30, concat({der(0x02, modulus), der(0x02, exponent)}));
    const Bytes algorithm = test::fromHex("300d06092a864886f70d0101010500");
    return der(0x30, concat({algorithm, der(0x03, concat({Bytes{0}, rsaKey}))}));
}

// The slots a context lists, with room for 32.
std::vector<std::uint32_t> slotList(void* context) {
    std::uint32_t slots[32] = {};
    std::uint32_t count = 32;
    EXPECT_EQ(NDGetSlotList(context, 32, slots, &count), DRV_OK);
    return std::vector<std::uint32_t>(slots, slots + std::min(count, 32u));
}

using Walk = std::vector<std::pair<std::uint32_t, std::string>>;

class Session {
  public:
    Session() {
        EXPECT_EQ(NDEstablishContext(&context_), DRV_OK);
        const auto slots = slotList(context_);
        EXPECT_EQ(slots.size(), 1u);
        EXPECT_EQ(NDOpen(context_, slots.empty() ? 0 : slots[0], &device_), DRV_OK);
        EXPECT_EQ(NDBeginTransaction(device_), DRV_OK);
        EXPECT_EQ(QZExternAuth(device_, DRV_DEVICE_AUTH_KEY), DRV_OK);
    }
    ~Session() {
        NDEndTransaction(device_);
        NDClose(device_);
        NDReleaseContext(context_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void* device() const noexcept { return device_; }
    void* operator*() const noexcept { return device_; }

    std::uint32_t verify(const char* pin = kPin, std::uint32_t flag = 0) const {
        return QZVerifyPIN(device_, DRV_PIN_USER, pin,
                           pin == nullptr ? 0 : static_cast<std::uint32_t>(std::strlen(pin)),
                           nullptr, flag);
    }

    // The container walk; the names come with it.
    Walk walk() const {
        Walk out;
        for (std::uint32_t first = 1;; first = 0) {
            std::uint32_t index = 0;
            char name[DRV_CONTAINER_NAME_ROOM] = {};
            const std::uint32_t status = QZEnumContainer(device_, 0, first, &index, name);
            if (status == DRV_END_OF_CONTAINERS) {
                return out;
            }
            EXPECT_EQ(status, DRV_OK);
            if (status != DRV_OK) {
                return out;
            }
            out.emplace_back(index, name);
        }
    }

    Bytes readPublicFile(std::uint32_t fid) const {
        std::uint8_t buffer[1024] = {};
        std::uint32_t len = sizeof buffer;
        EXPECT_EQ(QZReadFile(device_, fid, 0, buffer, &len), DRV_OK);
        return Bytes(buffer, buffer + len);
    }

  private:
    void* context_ = nullptr;
    void* device_ = nullptr;
};

class DravikTest : public ::testing::Test {
  protected:
    // A key with kPin as its (changed) user PIN.
    void makeKey(const std::string& serial = "SK0001", bool defaultPin = false) {
        Token t = newToken(serial, kPin, "key " + serial);
        t.pin.isDefault = defaultPin;
        store().create(t);
    }

    Store& store() { return temp_.store(); }
    Token key(const std::string& serial = "SK0001") { return store().read(serial); }

    void faults(const std::string& json) const { temp_.put("faults.json", json); }
    void user(const std::string& json) const { temp_.put("user.json", json); }

    // A container with a new key pair bound as its signature key, made through
    // the key itself as the token API library does; its private-key file id.
    std::uint32_t makeSigner(const Session& s, const char* name, std::uint32_t algId,
                             std::uint32_t type) {
        std::uint32_t index = 0;
        std::uint32_t fid = 0;
        EXPECT_EQ(QZNewContainer(*s, name, 0, &index), DRV_OK);
        EXPECT_EQ(QZGetFreePriKeyFID(*s, &fid), DRV_OK);
        EXPECT_EQ(s.verify(kPin, 1), DRV_OK);
        std::uint8_t block[300] = {};
        std::uint32_t len = sizeof block;
        EXPECT_EQ(QZAsymGenerateKeyPair(*s, algId, type, fid, block, &len, 1), DRV_OK);
        EXPECT_EQ(QZBindPriKeyToContainer(*s, index, fid, type, algId), DRV_OK);
        return fid;
    }

    // Writes the public key of a file as PEM for openssl; its argument.
    std::string publicPem(const Session& s, std::uint32_t privateFid) {
        writeFile(temp_.dir().file("pub.der"), spkiOf(s.readPublicFile(privateFid + 1)));
        const auto run = openssl("pkey -pubin -inform DER -in " + temp_.dir().arg("pub.der") +
                                 " -out " + temp_.dir().arg("pub.pem"));
        EXPECT_EQ(run.status, 0) << run.output;
        return temp_.dir().arg("pub.pem");
    }

    bool sm2Verifies(const std::string& pub, const Bytes& data, const Bytes& rs) {
        writeFile(temp_.dir().file("data"), data);
        writeFile(temp_.dir().file("sig.der"), test::derSignatureFromRs(rs));
        const auto run = openssl(
            "pkeyutl -verify -rawin -digest sm3 -pkeyopt "
            "distid:1234567812345678 -pubin -inkey " +
            pub + " -in " + temp_.dir().arg("data") + " -sigfile " + temp_.dir().arg("sig.der"));
        return run.status == 0;
    }

    bool rsaVerifies(const std::string& pub, const std::string& digest, const Bytes& data,
                     const Bytes& signature) {
        writeFile(temp_.dir().file("data"), data);
        writeFile(temp_.dir().file("sig"), signature);
        const auto run = openssl("dgst -" + digest + " -verify " + pub + " -signature " +
                                 temp_.dir().arg("sig") + " " + temp_.dir().arg("data"));
        return run.status == 0;
    }

    std::vector<json::Ptr> displayLog() const {
        std::vector<json::Ptr> out;
        for (const std::string& line : temp_.lines("display.log")) {
            out.push_back(json::parse(line));
            EXPECT_NE(out.back(), nullptr) << line;
        }
        return out;
    }

    TempStore temp_;
};

// The default key with a session open on it.
class DravikSessionTest : public DravikTest {
  protected:
    bool keyMade_ = (makeKey(), true);
    Session s;
};

TEST(DravikExports, AllNamesResolveInOrderAndNoOtherIsExported) {
    const auto list = test::exportList(kExportList);
    ASSERT_EQ(list.size(), 88u);
    ASSERT_EQ(std::count_if(list.begin(), list.end(), [](const auto& e) { return e.second; }), 34);
    test::expectExactExports("Dravik", list, DRV_E_NOT_SUPPORTED);
}

// The software key's stubs are made from the list the token API library binds
// from; this list, stated here, checks both against each other.
TEST(DravikExports, TheBindingListIsTheExportList) {
    const auto bound = ORVA_TEST_MAKER_LIST(ORVA_DRAVIK_NAMES);
    EXPECT_EQ(bound, test::exportList(kExportList));
}

TEST_F(DravikTest, SlotListCountsThePluggedInKeys) {
    void* context = nullptr;
    ASSERT_EQ(NDEstablishContext(&context), DRV_OK);
    EXPECT_TRUE(slotList(context).empty()) << "no store at all is no key";
    for (const char* serial : {"SK-B", "SK-A", "SK-C"}) {
        makeKey(serial);
    }
    store().unplug("SK-C");
    ASSERT_EQ(slotList(context), (std::vector<std::uint32_t>{1, 2}));

    // Slot ids follow the serials' order.
    void* device = nullptr;
    ASSERT_EQ(NDOpen(context, 1, &device), DRV_OK);
    char serial[DRV_SERIAL_ROOM] = {};
    EXPECT_EQ(QZReadSN(device, serial), DRV_OK);
    EXPECT_STREQ(serial, "SK-A");
    EXPECT_EQ(NDClose(device), DRV_OK);

    // Less room than keys: the room is filled, the count says how many there are.
    std::uint32_t one[2] = {0, 0xEEEEEEEE};
    std::uint32_t count = 1;
    ASSERT_EQ(NDGetSlotList(context, 32, one, &count), DRV_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(one[1], 0xEEEEEEEEu) << "written past the room";

    EXPECT_EQ(NDOpen(context, 3, &device), DRV_E_NOT_FOUND);
    EXPECT_EQ(NDOpen(context, 0, &device), DRV_E_NOT_FOUND);
    EXPECT_EQ(NDReleaseContext(context), DRV_OK);
}

TEST_F(DravikTest, UnknownAndReleasedHandlesAreRefused) {
    makeKey();
    void* context = nullptr;
    ASSERT_EQ(NDEstablishContext(&context), DRV_OK);
    ASSERT_EQ(slotList(context).size(), 1u);
    void* device = nullptr;
    ASSERT_EQ(NDOpen(context, 1, &device), DRV_OK);
    EXPECT_EQ(NDOpen(device, 1, &device), DRV_E_INVALID_HANDLE) << "a device is not a context";
    EXPECT_EQ(NDClose(device), DRV_OK);
    EXPECT_EQ(NDClose(device), DRV_E_INVALID_HANDLE);
    char serial[DRV_SERIAL_ROOM];
    EXPECT_EQ(QZReadSN(device, serial), DRV_E_INVALID_HANDLE);
    int local = 0;
    EXPECT_EQ(QZReadSN(&local, serial), DRV_E_INVALID_HANDLE);
    EXPECT_EQ(QZReadSN(nullptr, serial), DRV_E_INVALID_HANDLE);
    EXPECT_EQ(NDReleaseContext(context), DRV_OK);
    EXPECT_EQ(NDReleaseContext(context), DRV_E_INVALID_HANDLE);
    std::uint32_t slots[32] = {};
    std::uint32_t count = 32;
    EXPECT_EQ(NDGetSlotList(context, 32, slots, &count), DRV_E_INVALID_HANDLE);
}

TEST_F(DravikSessionTest, APulledOutKeyFailsEveryCallUntilPluggedBackIn) {
    char serial[DRV_SERIAL_ROOM] = {};
    store().unplug("SK0001");
    EXPECT_EQ(QZReadSN(*s, serial), DRV_E_DEVICE_REMOVED);
    std::uint32_t index = 0;
    EXPECT_EQ(QZNewContainer(*s, "c", 0, &index), DRV_E_DEVICE_REMOVED);
    EXPECT_EQ(store().placeOf("SK0001"), KeyPlace::removed);
    store().plug("SK0001");
    EXPECT_EQ(QZReadSN(*s, serial), DRV_OK);

    // Pulled between the slot list and the open.
    void* context = nullptr;
    ASSERT_EQ(NDEstablishContext(&context), DRV_OK);
    ASSERT_EQ(slotList(context).size(), 1u);
    store().unplug("SK0001");
    void* device = nullptr;
    EXPECT_EQ(NDOpen(context, 1, &device), DRV_E_DEVICE_REMOVED);
    NDReleaseContext(context);
}

TEST_F(DravikTest, FaultsPullKeysFailCallsAndRefuseAuthentication) {
    makeKey();
    faults(R"({"pulled": "before"})");
    void* context = nullptr;
    ASSERT_EQ(NDEstablishContext(&context), DRV_OK);
    EXPECT_TRUE(slotList(context).empty());
    NDReleaseContext(context);
    EXPECT_EQ(store().placeOf("SK0001"), KeyPlace::removed);
    store().plug("SK0001");

    faults(R"({"pulled": "QZGetAdminKeyInfo"})");
    {
        Session s;
        std::uint8_t record[DRV_ADMIN_RECORD_ROOM] = {};
        char serial[DRV_SERIAL_ROOM] = {};
        EXPECT_EQ(QZReadSN(*s, serial), DRV_OK) << "pulled before its time";
        EXPECT_EQ(QZGetAdminKeyInfo(*s, record), DRV_E_DEVICE_REMOVED);
        EXPECT_EQ(store().placeOf("SK0001"), KeyPlace::removed);
    }
    store().plug("SK0001");

    faults(R"({"fail": {"QZReadSN": {"status": "0x6A88", "count": 1}}, "refuseExternAuth": true})");
    ASSERT_EQ(NDEstablishContext(&context), DRV_OK);
    ASSERT_EQ(slotList(context).size(), 1u);
    void* device = nullptr;
    ASSERT_EQ(NDOpen(context, 1, &device), DRV_OK);
    EXPECT_EQ(QZExternAuth(device, DRV_DEVICE_AUTH_KEY), DRV_E_AUTH_FAILED);
    char serial[DRV_SERIAL_ROOM] = {};
    EXPECT_EQ(QZReadSN(device, serial), 0x6A88u);
    EXPECT_EQ(QZReadSN(device, serial), DRV_OK) << "a counted failure outlived its count";
    NDClose(device);
    NDReleaseContext(context);
}

TEST_F(DravikSessionTest, AWriteFaultLeavesTheKeyAsItWas) {
    const std::string path = store().keyPath("SK0001", KeyPlace::present).string();
    const Bytes before = readFile(path);
    faults(R"({"failWrites": true})");
    std::uint32_t index = 0;
    EXPECT_EQ(QZNewContainer(*s, "c", 0, &index), DRV_E_WRITE_FAILED);
    EXPECT_EQ(s.verify("000000"), DRV_E_WRITE_FAILED) << "a try was counted but not kept";
    EXPECT_EQ(readFile(path), before);
    char serial[DRV_SERIAL_ROOM] = {};
    EXPECT_EQ(QZReadSN(*s, serial), DRV_OK) << "reading needs no write";
}

TEST_F(DravikTest, TheTraceRecordsEveryEntry) {
    makeKey();
    temp_.put("trace", "");
    { Session s; }
    EXPECT_EQ(temp_.lines("trace.log"),
              (std::vector<std::string>{"NDEstablishContext", "NDGetSlotList", "NDOpen",
                                        "NDBeginTransaction", "QZExternAuth", "NDEndTransaction",
                                        "NDClose", "NDReleaseContext"}));
}

TEST_F(DravikSessionTest, WalksSurviveDeletionAndIndexesStay) {
    EXPECT_TRUE(s.walk().empty());
    for (const char* name : {"a", "b", "c", "d"}) {
        std::uint32_t index = 0;
        ASSERT_EQ(QZNewContainer(*s, name, 0, &index), DRV_OK);
    }
    ASSERT_EQ(s.verify(), DRV_OK);

    // Delete the current and the next container in the middle of a walk.
    std::uint32_t index = 0;
    char name[DRV_CONTAINER_NAME_ROOM];
    ASSERT_EQ(QZEnumContainer(*s, 0, 1, &index, name), DRV_OK);
    ASSERT_EQ(QZEnumContainer(*s, 0, 0, &index, name), DRV_OK);
    EXPECT_EQ(index, 2u);
    EXPECT_STREQ(name, "b");
    EXPECT_EQ(QZDelContainer(*s, 2), DRV_OK);
    EXPECT_EQ(QZDelContainer(*s, 3), DRV_OK);
    ASSERT_EQ(QZEnumContainer(*s, 0, 0, &index, name), DRV_OK);
    EXPECT_EQ(index, 4u);
    EXPECT_STREQ(name, "d");
    EXPECT_EQ(QZEnumContainer(*s, 0, 0, &index, name), DRV_END_OF_CONTAINERS);
    EXPECT_EQ(QZEnumContainer(*s, 0, 0, &index, name), DRV_END_OF_CONTAINERS);

    // A new container takes the lowest free index; the others keep theirs.
    ASSERT_EQ(QZNewContainer(*s, "e", 0, &index), DRV_OK);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(s.walk(), (Walk{{1, "a"}, {2, "e"}, {4, "d"}}));
    EXPECT_EQ(QZNewContainer(*s, "a", 0, &index), DRV_E_EXISTS);
    EXPECT_EQ(QZDelContainer(*s, 3), DRV_E_NOT_FOUND);
}

TEST_F(DravikSessionTest, DeletingSeveralIsAllOrNothing) {
    for (const char* name : {"a", "b", "c"}) {
        std::uint32_t index = 0;
        ASSERT_EQ(QZNewContainer(*s, name, 0, &index), DRV_OK);
    }
    const std::uint32_t some[] = {1, 3, 1};
    EXPECT_EQ(QZDelMultiContainers(*s, some, 3), DRV_E_SECURITY) << "deleted without the PIN";
    ASSERT_EQ(s.verify(), DRV_OK);
    const std::uint32_t missing[] = {1, 9};
    EXPECT_EQ(QZDelMultiContainers(*s, missing, 2), DRV_E_NOT_FOUND);
    EXPECT_EQ(s.walk().size(), 3u);
    EXPECT_EQ(QZDelMultiContainers(*s, some, 3), DRV_OK) << "an index named twice";
    EXPECT_EQ(s.walk(), (Walk{{2, "b"}}));
    EXPECT_EQ(QZDelMultiContainers(*s, nullptr, 1), DRV_E_BAD_ARGUMENT);
}

TEST_F(DravikSessionTest, ContainerRecordsAndCertificateFiles) {
    const std::uint32_t fid = makeSigner(s, "signer", kAlgSm2, 3);
    DRV_CONTAINER_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(QZGetContainerInfo(*s, 1, &info), DRV_OK);
    EXPECT_EQ(info.containerId, 1u);
    EXPECT_EQ(info.usage, 2u);
    EXPECT_EQ(info.signAlgId, 10u);
    EXPECT_EQ(info.signKeyPresent, 1u);
    EXPECT_EQ(info.signCertPresent, 0u);
    EXPECT_EQ(info.exchKeyPresent, 0u);
    EXPECT_EQ(info.signKeyWord, fid);
    EXPECT_EQ(info.signPubKeyFid, fid + 1);
    EXPECT_EQ(info.type, 3u);
    EXPECT_EQ(info.reserved5, 0u);

    DRV_CONTAINER_INFO untouched;
    std::memset(&untouched, 0xCC, sizeof untouched);
    EXPECT_EQ(QZGetContainerInfo(*s, 2, &untouched), DRV_E_NOT_FOUND);
    EXPECT_EQ(untouched.containerId, 0xCCCCCCCCu);

    std::uint8_t buffer[4096];
    std::uint32_t len = sizeof buffer;
    EXPECT_EQ(QZReadFileFromContainer(*s, 1, DRV_FILE_SIGN_CERT, buffer, &len), DRV_E_NOT_FOUND);
    const Bytes cert(1200, 0x5A);
    ASSERT_EQ(QZWriteFileToContainer(*s, 1, DRV_FILE_SIGN_CERT, cert.data(), 1200), DRV_OK);
    ASSERT_EQ(QZGetContainerInfo(*s, 1, &info), DRV_OK);
    EXPECT_EQ(info.signCertPresent, 1u);
    EXPECT_EQ(info.exchCertPresent, 0u);

    len = 1199;
    buffer[0] = 0;
    EXPECT_EQ(QZReadFileFromContainer(*s, 1, DRV_FILE_SIGN_CERT, buffer, &len),
              DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 1200u);
    EXPECT_EQ(buffer[0], 0) << "a short buffer was written";
    len = sizeof buffer;
    ASSERT_EQ(QZReadFileFromContainer(*s, 1, DRV_FILE_SIGN_CERT, buffer, &len), DRV_OK);
    EXPECT_EQ(Bytes(buffer, buffer + len), cert);
    EXPECT_EQ(QZReadFileFromContainer(*s, 1, 4, buffer, &len), DRV_E_NOT_FOUND);

    const Bytes tooLong(4097, 1);
    EXPECT_EQ(QZWriteFileToContainer(*s, 1, DRV_FILE_EXCH_CERT, tooLong.data(), 4097),
              DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(QZWriteFileToContainer(*s, 7, DRV_FILE_EXCH_CERT, cert.data(), 10), DRV_E_NOT_FOUND);

    // Deleting the container takes its key files along.
    ASSERT_EQ(QZDelContainer(*s, 1), DRV_OK);
    std::uint8_t ids[1024];
    std::uint32_t count = 0;
    ASSERT_EQ(QZGetPubKeyIDs(*s, ids, &count), DRV_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(DravikSessionTest, ANameWithoutRoomOrEndIsRefused) {
    std::uint32_t index = 0;
    const std::string longest(kContainerNameMaxChars, 'n');
    EXPECT_EQ(QZNewContainer(*s, longest.c_str(), 0, &index), DRV_OK);
    const std::string tooLong(kContainerNameMaxChars + 1, 'm');
    EXPECT_EQ(QZNewContainer(*s, tooLong.c_str(), 0, &index), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(QZNewContainer(*s, "", 0, &index), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(QZNewContainer(*s, nullptr, 0, &index), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(s.walk().front().second, longest);

    store().update("SK0001", true, [](Token& t) { t.capacity = 1; });
    EXPECT_EQ(QZNewContainer(*s, "full", 0, &index), DRV_E_NO_SPACE);
}

TEST_F(DravikSessionTest, ARightPinGivesTheTriesBackAndWrongOnesCountDownToALock) {
    EXPECT_EQ(s.verify("000000"), DRV_E_WRONG_PIN(5));
    EXPECT_EQ(s.verify("000000"), DRV_E_WRONG_PIN(4));
    EXPECT_EQ(s.verify(), DRV_OK);
    EXPECT_EQ(key().pin.triesLeft, kTries);
    EXPECT_EQ(QZVerifyPIN(*s, 1, kPin, 6, nullptr, 0), DRV_E_BAD_ARGUMENT) << "not the user PIN";

    for (std::uint32_t left = kTries - 1; left >= 1; --left) {
        EXPECT_EQ(s.verify("000000"), DRV_E_WRONG_PIN(left));
    }
    EXPECT_EQ(s.verify("000000"), DRV_E_PIN_LOCKED);
    EXPECT_EQ(key().pin.triesLeft, 0u);
    EXPECT_EQ(s.verify(), DRV_E_PIN_LOCKED) << "the right PIN opened a locked key";
    std::uint32_t tries = 99;
    EXPECT_EQ(QZChangePIN(*s, 2, kPin, 6, "135790", 6, &tries), DRV_E_PIN_LOCKED);
    EXPECT_EQ(tries, 0u);
}

// cJSON decodes \u0000 into a C string: a salt read short would fail the right
// PIN, spend a try and be written back short.
TEST_F(DravikSessionTest, ANulInsideTheSaltRefusesTheKeyAndSpendsNoTry) {
    const std::string path = store().keyPath("SK0001", KeyPlace::present).string();
    const std::string good = test::readText(path);
    const std::string saltAt = "\"salt\":\t\"";
    const std::size_t at = good.find(saltAt);
    ASSERT_NE(at, std::string::npos) << good;
    std::string bad = good;
    bad.insert(at + saltAt.size() + 4, "\\u0000");
    writeFile(path, bad);

    const std::uint32_t status = s.verify();
    EXPECT_NE(status, DRV_OK);
    EXPECT_NE(status & 0xFFF0u, DRV_E_WRONG_PIN(0) & 0xFFF0u) << "a try was spent";
    EXPECT_EQ(test::readText(path), bad);

    writeFile(path, good);
    EXPECT_EQ(s.verify(), DRV_OK);
    EXPECT_EQ(key().pin.triesLeft, kTries);
}

TEST_F(DravikTest, TheDefaultPinMustBeChangedBeforeUse) {
    makeKey("SK0001", true);
    Session s;
    EXPECT_EQ(s.verify(), DRV_E_DEFAULT_PIN);
    EXPECT_EQ(s.verify(kPin, 1), DRV_E_DEFAULT_PIN) << "a default PIN was cached";

    std::uint32_t tries = 0;
    EXPECT_EQ(QZChangePIN(*s, 2, "999999", 6, "135790", 6, &tries), DRV_E_WRONG_PIN(5));
    EXPECT_EQ(tries, 5u);
    EXPECT_EQ(QZChangePIN(*s, 2, kPin, 6, "135790", 6, &tries), DRV_OK);
    EXPECT_EQ(s.verify("135790"), DRV_OK);
    EXPECT_FALSE(key().pin.isDefault);
    EXPECT_EQ(key().pin.triesLeft, kTries);
    EXPECT_EQ(QZChangePIN(*s, 2, "135790", 6, "", 0, &tries), DRV_E_CANCELLED)
        << "no new PIN and nobody to type one";
}

TEST_F(DravikSessionTest, WithoutAPinTheUserTypesItOrCancels) {
    EXPECT_EQ(s.verify(nullptr), DRV_E_CANCELLED) << "a user with no PIN to type";
    user(R"({"pin": "246810"})");
    EXPECT_EQ(s.verify(nullptr), DRV_OK);
    user(R"({"pin": "111111"})");
    EXPECT_EQ(s.verify(nullptr), DRV_E_WRONG_PIN(5));
    user(R"({"pin": "246810", "keys": {"SK0001": {"button": "cancel"}}})");
    EXPECT_EQ(s.verify(nullptr), DRV_E_CANCELLED);
    user(R"({"button": "timeout", "pin": "246810"})");
    EXPECT_EQ(s.verify(nullptr), DRV_E_TIMEOUT);

    user(R"({"pin": "246810", "newPin": "8642"})");
    std::uint32_t tries = 0;
    EXPECT_EQ(QZChangePIN(*s, 2, nullptr, 0, nullptr, 0, &tries), DRV_OK);
    EXPECT_EQ(s.verify("8642"), DRV_OK);
}

TEST_F(DravikSessionTest, TheCacheServesFlagOneUntilCleared) {
    EXPECT_EQ(s.verify(nullptr, 1), DRV_E_CANCELLED) << "nothing cached yet";
    ASSERT_EQ(s.verify(), DRV_OK);
    EXPECT_EQ(s.verify(nullptr, 1), DRV_OK);
    EXPECT_EQ(s.verify(nullptr, 0), DRV_E_CANCELLED) << "flag 0 must verify afresh";
    ASSERT_EQ(s.verify(), DRV_OK);
    EXPECT_EQ(QZClearPINCache(*s, DRV_DEVICE_AUTH_KEY), DRV_OK);
    EXPECT_EQ(s.verify(nullptr, 1), DRV_E_CANCELLED);

    // The cache belongs to the session.
    ASSERT_EQ(s.verify(), DRV_OK);
    Session other;
    EXPECT_EQ(other.verify(nullptr, 1), DRV_E_CANCELLED);
}

TEST_F(DravikSessionTest, InitialisationWipesTheKeyUnlessTheAdminKeyForbids) {
    makeSigner(s, "c", kAlgSm2, 2);
    for (int i = 0; i < 3; ++i) {
        s.verify("000000");
    }
    store().update("SK0001", true, [](Token& t) { t.adminState = 2; });
    EXPECT_EQ(QZInitADF(*s, 0, 0, "1357", 4, 0, nullptr, 0, 0), DRV_E_SECURITY);
    EXPECT_EQ(s.walk().size(), 1u);

    store().update("SK0001", true, [](Token& t) { t.adminState = 1; });
    ASSERT_EQ(QZInitADF(*s, 0, 0, "1357", 4, 0, nullptr, 0, 0), DRV_OK);
    const Token k = key();
    EXPECT_TRUE(k.containers.empty());
    EXPECT_TRUE(k.keyFiles.empty());
    EXPECT_EQ(k.pin.triesLeft, kTries);
    EXPECT_FALSE(k.pin.isDefault);
    EXPECT_EQ(s.verify("1357"), DRV_OK);

    user(R"({"newPin": "97531"})");
    ASSERT_EQ(QZInitADF(*s, 0, 0, nullptr, 0, 0, nullptr, 0, 0), DRV_OK);
    EXPECT_EQ(s.verify("97531"), DRV_OK);
    user(R"({"button": "cancel", "newPin": "97531"})");
    EXPECT_EQ(QZInitADF(*s, 0, 0, nullptr, 0, 0, nullptr, 0, 0), DRV_E_CANCELLED);
}

TEST_F(DravikSessionTest, DigestAndDataSignaturesVerifyWithOpenssl) {
    const std::uint32_t sm2 = makeSigner(s, "sm2", kAlgSm2, 4);
    const std::uint32_t rsa = makeSigner(s, "rsa", kAlgRsa1024, 4);
    const Bytes data = bytesOf("to-be-signed request info");
    std::array<std::uint8_t, 512> sig{};
    std::uint32_t len = 0;
    // Operations 1 and 2 as a certificate request is signed; the room is reset each time.
    const auto sign = [&](std::uint32_t hashId, std::uint32_t algId, std::uint32_t fid,
                          std::uint32_t op, const Bytes& in, std::uint32_t room = 512) {
        len = room;
        return QZAsymSign(*s, hashId, algId, 3, fid, 0, 0, nullptr, 0, nullptr, 0, op, in.data(),
                          static_cast<std::uint32_t>(in.size()), sig.data(), &len);
    };

    ASSERT_EQ(sign(8, kAlgSm2, sm2, DRV_SIGN_DATA, data), DRV_OK);
    ASSERT_EQ(len, 64u);
    const std::string sm2Pub = publicPem(s, sm2);
    EXPECT_TRUE(sm2Verifies(sm2Pub, data, Bytes(sig.begin(), sig.begin() + 64)));

    // Operation 1 signs the digest as given.
    const Bytes digest(32, 0x42);
    ASSERT_EQ(sign(8, kAlgSm2, sm2, DRV_SIGN_DIGEST, digest), DRV_OK);
    writeFile(temp_.dir().file("digest"), digest);
    writeFile(temp_.dir().file("sig.der"),
              test::derSignatureFromRs(Bytes(sig.begin(), sig.begin() + 64)));
    const auto run = openssl("pkeyutl -verify -pubin -inkey " + sm2Pub + " -in " +
                             temp_.dir().arg("digest") + " -sigfile " + temp_.dir().arg("sig.der"));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(sign(8, kAlgSm2, sm2, DRV_SIGN_DIGEST, Bytes(31, 1)), DRV_E_BAD_ARGUMENT);

    ASSERT_EQ(sign(5, kAlgRsa1024, rsa, DRV_SIGN_DATA, data), DRV_OK);
    ASSERT_EQ(len, 128u);
    EXPECT_TRUE(
        rsaVerifies(publicPem(s, rsa), "sha256", data, Bytes(sig.begin(), sig.begin() + 128)));

    // The signature needs its room, the right key, and the PIN of this session.
    sig.fill(0);
    EXPECT_EQ(sign(5, kAlgRsa1024, rsa, DRV_SIGN_DATA, data, 64), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 128u);
    EXPECT_EQ(sig[0], 0) << "a short buffer was written";
    EXPECT_EQ(sign(8, kAlgRsa1024, sm2, DRV_SIGN_DATA, data), DRV_E_BAD_ARGUMENT)
        << "an SM2 key named as RSA";
    EXPECT_EQ(sign(8, kAlgSm2, 41, DRV_SIGN_DATA, data), DRV_E_NOT_FOUND);
    QZClearPINCache(*s, DRV_DEVICE_AUTH_KEY);
    EXPECT_EQ(sign(8, kAlgSm2, sm2, DRV_SIGN_DATA, data), DRV_E_SECURITY);
}

// The transaction the key shows: prepare (op 3), then show, PIN, button, sign (op 5).
class DravikTransactionTest : public DravikTest {
  protected:
    void SetUp() override {
        makeKey();
        session_.emplace();
        sm2_ = makeSigner(*session_, "binary", kAlgSm2, 3);
        rsa_ = makeSigner(*session_, "text", kAlgRsa2048, 2);
        QZClearPINCache(**session_, DRV_DEVICE_AUTH_KEY);
        user(R"({"pin": "246810"})");
    }

    std::uint32_t prepare(std::uint32_t form, const Bytes& transaction) {
        return QZAsymSign(**session_, 8, kAlgSm2, form, sm2_, 1, charset_, tips_.c_str(),
                          static_cast<std::uint32_t>(tips_.size()), "ignored", 7, DRV_SIGN_PREPARE,
                          transaction.data(), static_cast<std::uint32_t>(transaction.size()),
                          sig_.data(), &sigLen_);
    }

    std::uint32_t confirm(std::uint32_t form, const Bytes& packet, std::uint32_t keyWord = 0,
                          std::uint32_t algId = kAlgSm2, std::uint32_t hashId = 8) {
        return QZAsymSign(**session_, hashId, algId, form, keyWord == 0 ? sm2_ : keyWord, 1,
                          charset_, tips_.c_str(), static_cast<std::uint32_t>(tips_.size()),
                          "ignored", 7, DRV_SIGN_CONFIRM, packet.data(),
                          static_cast<std::uint32_t>(packet.size()), sig_.data(), &sigLen_);
    }

    // One prepared and confirmed transaction in the binary form.
    std::uint32_t signOnce() {
        EXPECT_EQ(prepare(2, transaction_), DRV_PREPARED);
        return confirm(2, packet(2, transaction_, display_));
    }

    std::string lastOutcome() {
        const auto log = displayLog();
        if (log.empty()) {
            return "(nothing shown)";
        }
        return std::string(json::string(log.back().get(), "outcome").value_or("?"));
    }

    std::optional<Session> session_;
    std::uint32_t sm2_ = 0;
    std::uint32_t rsa_ = 0;
    std::int32_t charset_ = 2;
    std::string tips_ = "Check the payee";
    Bytes transaction_ = bytesOf("<T><amount>100.00</amount></T>");
    Bytes display_ = bytesOf("Pay 100.00?");
    std::array<std::uint8_t, 1024> sig_{};
    std::uint32_t sigLen_ = 1024;
};

TEST_F(DravikTransactionTest, AConfirmedTransactionSignsThePacketShown) {
    const Bytes file = bytesOf("%PDF contract");
    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    const Bytes signed_ = packet(2, transaction_, display_, file);
    ASSERT_EQ(confirm(2, signed_), DRV_OK);
    ASSERT_EQ(sigLen_, 64u);
    EXPECT_TRUE(
        sm2Verifies(publicPem(*session_, sm2_), signed_, Bytes(sig_.begin(), sig_.begin() + 64)));

    const auto log = displayLog();
    ASSERT_EQ(log.size(), 1u) << "one show per signature";
    const cJSON* line = log[0].get();
    EXPECT_EQ(json::string(line, "serial"), "SK0001");
    EXPECT_EQ(json::uint(line, "language"), 1u);
    EXPECT_EQ(json::uint(line, "charset"), 2u);
    EXPECT_EQ(json::string(line, "display"), "Pay 100.00?");
    EXPECT_EQ(json::string(line, "warning"), "Check the payee");
    EXPECT_EQ(json::string(line, "displayBase64"), toBase64(display_));
    EXPECT_EQ(json::uint(line, "form"), 2u);
    EXPECT_EQ(json::string(line, "outcome"), "signed");
    EXPECT_TRUE(json::string(line, "time").has_value());

    // The preparation is spent: a second confirmation needs a new one.
    EXPECT_EQ(confirm(2, signed_), DRV_E_CONDITIONS);
}

TEST_F(DravikTransactionTest, TheTextFormSignsWithRsaAndTheHashGiven) {
    charset_ = 1;
    tips_ = "\xC8\xB7\xC8\xCF";                      // GBK for "确认"
    const Bytes display = {0xD6, 0xA7, 0xB8, 0xB6};  // GBK for "支付"
    ASSERT_EQ(QZAsymSign(**session_, 5, kAlgRsa2048, 1, rsa_, 1, charset_, tips_.c_str(), 4, "", 0,
                         DRV_SIGN_PREPARE, transaction_.data(),
                         static_cast<std::uint32_t>(transaction_.size()), sig_.data(), &sigLen_),
              DRV_PREPARED);
    const Bytes signed_ = packet(1, transaction_, display);
    ASSERT_EQ(confirm(1, signed_, rsa_, kAlgRsa2048, 5), DRV_OK);
    ASSERT_EQ(sigLen_, 256u);
    EXPECT_TRUE(rsaVerifies(publicPem(*session_, rsa_), "sha256", signed_,
                            Bytes(sig_.begin(), sig_.begin() + 256)));
    const auto log = displayLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(json::string(log[0].get(), "display"), "\xE6\x94\xAF\xE4\xBB\x98");
    EXPECT_EQ(json::string(log[0].get(), "warning"), "\xE7\xA1\xAE\xE8\xAE\xA4");
}

TEST_F(DravikTransactionTest, EveryButtonOutcomeHasItsStatusAndLogLine) {
    const std::vector<std::tuple<const char*, std::uint32_t, const char*>> cases = {
        {R"({"pin": "246810", "button": "cancel"})", DRV_E_CANCELLED, "cancelled"},
        {R"({"pin": "246810", "button": "timeout"})", DRV_E_TIMEOUT, "timeout"},
        {R"({"pin": "246810", "button": "broken"})", DRV_E_BUTTON_BROKEN, "broken"},
        {R"({"pin": "999999"})", DRV_E_WRONG_PIN(5), "wrongPin"},
        {R"({})", DRV_E_CANCELLED, "cancelled"},
        {R"({"pin": "246810"})", DRV_OK, "signed"},
    };
    std::size_t shows = 0;
    for (const auto& [script, status, outcome] : cases) {
        user(script);
        sig_.fill(0);
        sigLen_ = 1024;
        EXPECT_EQ(signOnce(), status) << script;
        EXPECT_EQ(displayLog().size(), ++shows) << script;
        EXPECT_EQ(lastOutcome(), outcome) << script;
        EXPECT_EQ(json::uint(displayLog().back().get(), "status"), status) << script;
        if (status != DRV_OK) {
            EXPECT_EQ(sigLen_, 1024u) << script;
            EXPECT_EQ(sig_[0], 0) << script;
        }
    }

    // A cached PIN is not asked again; the button still decides.
    ASSERT_EQ(session_->verify(), DRV_OK);
    user(R"({"button": "cancel"})");
    EXPECT_EQ(signOnce(), DRV_E_CANCELLED);
    user(R"({})");
    EXPECT_EQ(signOnce(), DRV_OK);
}

TEST_F(DravikTransactionTest, ALockedPinStopsTheSignature) {
    store().update("SK0001", true, [](Token& t) { t.pin.triesLeft = 1; });
    user(R"({"pin": "999999"})");
    EXPECT_EQ(signOnce(), DRV_E_PIN_LOCKED);
    EXPECT_EQ(lastOutcome(), "pinLocked");
    user(R"({"pin": "246810"})");
    EXPECT_EQ(signOnce(), DRV_E_PIN_LOCKED);
}

TEST_F(DravikTransactionTest, BadPacketsAreRefusedBeforeAnythingIsShown) {
    EXPECT_EQ(confirm(2, packet(2, transaction_, display_)), DRV_E_CONDITIONS)
        << "confirmed without a preparation";

    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"another transaction", packet(2, bytesOf("<T>other</T>"), display_)},
        {"the text form", packet(1, transaction_, display_)},
        {"cut short",
         [&] {
             Bytes p = packet(2, transaction_, display_);
             p.pop_back();
             return p;
         }()},
        {"trailing byte", concat({packet(2, transaction_, display_), Bytes{0}})},
        {"empty", Bytes{}},
    };
    for (const auto& [what, p] : bad) {
        ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
        EXPECT_EQ(confirm(2, p), DRV_E_BAD_TRANSACTION) << what;
    }
    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    EXPECT_EQ(confirm(1, packet(1, transaction_, display_)), DRV_E_BAD_TRANSACTION)
        << "confirmed in another form than prepared";
    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    EXPECT_EQ(confirm(2, packet(2, transaction_, Bytes{})), DRV_E_EMPTY_DISPLAY);

    // Too little room for the signature: refused before the show, nothing written.
    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    sig_.fill(0);
    sigLen_ = 63;
    EXPECT_EQ(confirm(2, packet(2, transaction_, display_)), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(sigLen_, 64u);
    EXPECT_EQ(sig_[0], 0);
    EXPECT_TRUE(displayLog().empty());
}

TEST_F(DravikTransactionTest, PreparingShowsAndSignsNothingAndBelongsToTheSession) {
    sig_.fill(0x77);
    EXPECT_EQ(prepare(2, transaction_), DRV_PREPARED);
    EXPECT_EQ(sigLen_, 1024u);
    EXPECT_EQ(sig_[0], 0x77);
    EXPECT_TRUE(displayLog().empty()) << "preparing shows nothing";
    EXPECT_EQ(prepare(2, Bytes{}), DRV_E_BAD_TRANSACTION);

    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    QZClearPINCache(**session_, DRV_DEVICE_AUTH_KEY);
    EXPECT_EQ(confirm(2, packet(2, transaction_, display_)), DRV_E_CONDITIONS);

    ASSERT_EQ(prepare(2, transaction_), DRV_PREPARED);
    session_.reset();
    session_.emplace();
    EXPECT_EQ(confirm(2, packet(2, transaction_, display_)), DRV_E_CONDITIONS);
}

TEST_F(DravikSessionTest, GeneratedKeysKeepTheirTwoLayouts) {
    std::uint32_t fid = 0;
    ASSERT_EQ(QZGetFreePriKeyFID(*s, &fid), DRV_OK);
    EXPECT_EQ(fid, 1u);
    std::uint8_t block[300];
    std::uint32_t len = sizeof block;
    EXPECT_EQ(QZAsymGenerateKeyPair(*s, kAlgSm2, 4, fid, block, &len, 1), DRV_E_SECURITY);
    ASSERT_EQ(s.verify(), DRV_OK);
    len = 67;
    EXPECT_EQ(QZAsymGenerateKeyPair(*s, kAlgSm2, 4, fid, block, &len, 1), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 68u);
    EXPECT_TRUE(key().keyFiles.empty()) << "a key was made for a buffer too small";
    len = sizeof block;
    ASSERT_EQ(QZAsymGenerateKeyPair(*s, kAlgSm2, 4, fid, block, &len, 1), DRV_OK);
    ASSERT_EQ(len, 68u);
    const Bytes file = s.readPublicFile(fid + 1);
    ASSERT_EQ(file.size(), 68u);
    EXPECT_TRUE(std::equal(block + 2, block + 34, file.begin() + 2)) << "X";
    EXPECT_TRUE(std::equal(block + 34, block + 66, file.begin() + 36)) << "Y";

    ASSERT_EQ(QZGetFreePriKeyFID(*s, &fid), DRV_OK);
    EXPECT_EQ(fid, 3u);
    len = sizeof block;
    ASSERT_EQ(QZAsymGenerateKeyPair(*s, kAlgRsa1024, 4, fid, block, &len, 1), DRV_OK);
    ASSERT_EQ(len, 135u);
    const Bytes rsa = s.readPublicFile(fid + 1);
    EXPECT_EQ(Bytes(block, block + len), rsa);
    EXPECT_EQ(rsa[131], 3u);
    EXPECT_EQ(Bytes(rsa.end() - 3, rsa.end()), (Bytes{1, 0, 1}));

    std::uint8_t ids[1024];
    std::uint32_t count = 999;
    ASSERT_EQ(QZGetPubKeyIDs(*s, ids, &count), DRV_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(ids[0], 2u);
    EXPECT_EQ(ids[1], 4u);

    // Private keys never leave; a short read gets the size.
    std::uint8_t buffer[1024];
    len = sizeof buffer;
    EXPECT_EQ(QZReadFile(*s, 1, 0, buffer, &len), DRV_E_SECURITY);
    EXPECT_EQ(QZReadFile(*s, 6, 0, buffer, &len), DRV_E_NOT_FOUND);
    len = 10;
    EXPECT_EQ(QZReadFile(*s, 2, 0, buffer, &len), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 68u);
    len = sizeof buffer;
    ASSERT_EQ(QZReadFile(*s, 2, 60, buffer, &len), DRV_OK);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(QZAsymGenerateKeyPair(*s, kAlgSm2, 4, 2, block, &len, 1), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(QZAsymGenerateKeyPair(*s, 7, 4, 5, block, &len, 1), DRV_E_BAD_ARGUMENT);
}

TEST_F(DravikSessionTest, EncipheredPublicKeysAreOpaqueAndStable) {
    const std::uint32_t fid = makeSigner(s, "c", kAlgSm2, 3);
    std::uint8_t out[2048];
    std::uint32_t len = sizeof out;
    ASSERT_EQ(QZGetEncPubKey(*s, static_cast<std::uint8_t>(fid + 1), out, &len), DRV_OK);
    EXPECT_EQ(len % 16, 0u);
    EXPECT_GE(len, 68u);
    const Bytes first(out, out + len);
    const Bytes pub = s.readPublicFile(fid + 1);
    EXPECT_EQ(std::search(first.begin(), first.end(), pub.begin() + 2, pub.begin() + 34),
              first.end())
        << "the public key shows through";
    len = sizeof out;
    ASSERT_EQ(QZGetEncPubKey(*s, static_cast<std::uint8_t>(fid + 1), out, &len), DRV_OK);
    EXPECT_EQ(Bytes(out, out + len), first);
    EXPECT_EQ(QZGetEncPubKey(*s, 50, out, &len), DRV_E_NOT_FOUND);

    const std::uint8_t ids[] = {static_cast<std::uint8_t>(fid + 1)};
    const Bytes random(15, 0x11);
    len = sizeof out;
    ASSERT_EQ(QZGetEncPubKey_New(*s, 1, ids, 1, random.data(), out, &len), DRV_OK);
    const Bytes withRandom(out, out + len);
    const Bytes otherRandom(15, 0x12);
    len = sizeof out;
    ASSERT_EQ(QZGetEncPubKey_New(*s, 1, ids, 1, otherRandom.data(), out, &len), DRV_OK);
    EXPECT_NE(Bytes(out, out + len), withRandom);
    len = 16;
    EXPECT_EQ(QZGetEncPubKey_New(*s, 1, ids, 1, random.data(), out, &len), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, withRandom.size());
    EXPECT_EQ(QZGetEncPubKey_New(*s, 3, ids, 1, random.data(), out, &len), DRV_E_BAD_ARGUMENT);
    EXPECT_EQ(QZGetEncPubKey_New(*s, 1, ids, 0, random.data(), out, &len), DRV_E_BAD_ARGUMENT);
}

TEST_F(DravikSessionTest, AnEnvelopedKeyPairIsInstalledOnceForItsRandom) {
    const std::uint32_t sigFid = makeSigner(s, "c", kAlgSm2, 3);
    publicPem(s, sigFid);
    const std::string sigPub = test::readText(temp_.dir().file("pub.pem"));
    const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
    const Envelope envelope = sealEnvelope(sigPub, kEnvelopeSm4Cbc, newKey);
    const auto import = [&](std::uint32_t fid, std::uint32_t unwrap, const Bytes& a,
                            const Bytes& random) {
        return QZAsymImportKey_ORVA(
            *s, fid, unwrap, kEnvelopeSm4Cbc, a.data(), static_cast<std::uint32_t>(a.size()),
            envelope.keyPair.data(), static_cast<std::uint32_t>(envelope.keyPair.size()),
            envelope.keyBits.data(), static_cast<std::uint32_t>(envelope.keyBits.size()),
            random.empty() ? nullptr : random.data(), static_cast<std::uint32_t>(random.size()));
    };

    std::uint8_t random[DRV_RANDOM_FOR_ENC_ROOM] = {};
    ASSERT_EQ(QZGetRandomForEnc(*s, 15, random), DRV_OK);
    const Bytes issued(random, random + 15);
    std::uint32_t fid = 0;
    ASSERT_EQ(QZGetFreePriKeyFID(*s, &fid), DRV_OK);

    EXPECT_EQ(import(fid, 0xFFFFFFFF, envelope.sessionKey, issued), DRV_E_NOT_FOUND);
    Bytes tampered = envelope.sessionKey;
    tampered[tampered.size() / 2] ^= 1;
    EXPECT_EQ(import(fid, sigFid, tampered, {}), DRV_E_BAD_TRANSACTION);
    EXPECT_EQ(import(fid, sigFid, Bytes{}, {}), DRV_E_BAD_TRANSACTION);
    EXPECT_EQ(import(fid, sigFid, Bytes(513, 1), {}), DRV_E_BAD_ARGUMENT);

    EXPECT_EQ(import(fid, sigFid, envelope.sessionKey, issued), DRV_OK);
    EXPECT_EQ(s.readPublicFile(fid + 1), publicKeyFile(newKey));
    EXPECT_EQ(import(fid + 2, sigFid, envelope.sessionKey, issued), DRV_E_BAD_TRANSACTION)
        << "a random was used twice";
    ASSERT_EQ(QZGetRandomForEnc(*s, 15, random), DRV_OK);
    EXPECT_EQ(import(fid + 2, sigFid, envelope.sessionKey, Bytes(15, 0)), DRV_E_BAD_TRANSACTION);

    // Bound as the exchange key of the container, as the installation does.
    ASSERT_EQ(QZBindPriKeyToContainer(*s, 1, fid, 1, kAlgSm2), DRV_OK);
    DRV_CONTAINER_INFO info{};
    ASSERT_EQ(QZGetContainerInfo(*s, 1, &info), DRV_OK);
    EXPECT_EQ(info.exchKeyPresent, 1u);
    EXPECT_EQ(info.exchAlgId, 10u);
    EXPECT_EQ(info.exchPubKeyFid, fid + 1);

    QZClearPINCache(*s, DRV_DEVICE_AUTH_KEY);
    EXPECT_EQ(import(fid + 2, sigFid, envelope.sessionKey, {}), DRV_E_SECURITY);
}

TEST_F(DravikTest, FixedSizeAnswersStayInTheirRoom) {
    const std::string longest(kSerialMaxChars, 'S');
    makeKey(longest);
    Session s;
    std::array<char, DRV_SERIAL_ROOM + 1> serial;
    serial.fill('#');
    ASSERT_EQ(QZReadSN(*s, serial.data()), DRV_OK);
    EXPECT_EQ(std::string(serial.data()), longest);
    EXPECT_EQ(serial[DRV_SERIAL_ROOM], '#');

    std::array<std::uint8_t, DRV_ADMIN_RECORD_ROOM + 1> record;
    record.fill('#');
    ASSERT_EQ(QZGetAdminKeyInfo(*s, record.data()), DRV_OK);
    const std::string text(reinterpret_cast<const char*>(record.data()));
    EXPECT_EQ(text.size(), 24u);
    EXPECT_EQ(text.substr(2, 2), "00");
    EXPECT_EQ(record[DRV_ADMIN_RECORD_ROOM], '#');
    store().update(longest, true, [](Token& t) { t.adminState = 2; });
    ASSERT_EQ(QZGetAdminKeyInfo(*s, record.data()), DRV_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data())).substr(2, 2), "01");

    std::array<std::uint8_t, DRV_RANDOM_FOR_ENC_ROOM + 1> random;
    random.fill('#');
    EXPECT_EQ(QZGetRandomForEnc(*s, 17, random.data()), DRV_E_BAD_ARGUMENT);
    ASSERT_EQ(QZGetRandomForEnc(*s, 15, random.data()), DRV_OK);
    EXPECT_EQ(random[15], '#');
    EXPECT_EQ(key(longest).randomForEnc, Bytes(random.begin(), random.begin() + 15));
}

TEST_F(DravikSessionTest, TheTemporaryKeyNeedsThePinAndItsRoom) {
    std::uint8_t out[DRV_TEMP_KEY_ROOM];
    std::uint32_t len = sizeof out;
    EXPECT_EQ(QZGetTemKey(*s, out, &len), DRV_E_SECURITY);
    ASSERT_EQ(s.verify(), DRV_OK);
    len = 4;
    EXPECT_EQ(QZGetTemKey(*s, out, &len), DRV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, key().tempKey.size());
    len = sizeof out;
    ASSERT_EQ(QZGetTemKey(*s, out, &len), DRV_OK);
    EXPECT_EQ(Bytes(out, out + len), key().tempKey);
    store().update("SK0001", true, [](Token& t) { t.tempKey.clear(); });
    EXPECT_EQ(QZGetTemKey(*s, out, &len), DRV_E_NOT_FOUND);
}

TEST_F(DravikTest, TheLanguageCommandAcceptsOnlyListedCodes) {
    makeKey();
    store().update("SK0001", true, [](Token& t) { t.languages = {1, 2, 5}; });
    Session s;
    std::uint8_t codes[16] = {};
    std::uint32_t count = 16;
    ASSERT_EQ(QZGetLanguageList(*s, codes, &count), DRV_OK);
    EXPECT_EQ(Bytes(codes, codes + count), (Bytes{1, 2, 5}));
    count = 2;
    EXPECT_EQ(QZGetLanguageList(*s, codes, &count), DRV_E_BUFFER_TOO_SMALL);

    Bytes apdu = {0x80, 0x2A, 0x9E, 0xEE, 0x04, 0x0A, 0x00, 0x01, 0x05};
    std::uint8_t response[2055];
    std::uint32_t responseLen = 0;
    EXPECT_EQ(NDTransmit(*s, apdu.data(), 9, response, &responseLen), DRV_SW_OK);
    EXPECT_EQ(responseLen, 0u);
    EXPECT_EQ(key().language, 5u);
    apdu[8] = 3;
    EXPECT_EQ(NDTransmit(*s, apdu.data(), 9, response, &responseLen), DRV_E_WRONG_DATA);
    EXPECT_EQ(key().language, 5u);
    EXPECT_EQ(NDTransmit(*s, apdu.data(), 8, response, &responseLen), DRV_E_NOT_SUPPORTED);
    apdu[1] = 0x2B;
    apdu[8] = 1;
    EXPECT_EQ(NDTransmit(*s, apdu.data(), 9, response, &responseLen), DRV_E_NOT_SUPPORTED);
}

TEST_F(DravikTest, TheLanguageCommandKeepsFieldsOfALaterVersion) {
    makeKey();
    store().update("SK0001", true, [](Token& t) { addContainer(t, "c1"); });
    const std::string path = store().keyPath("SK0001", KeyPlace::present).string();
    test::addLaterFields(path);
    Session s;
    const Bytes apdu = {0x80, 0x2A, 0x9E, 0xEE, 0x04, 0x0A, 0x00, 0x01, 0x02};
    std::uint8_t response[2055];
    std::uint32_t responseLen = 0;
    ASSERT_EQ(NDTransmit(*s, apdu.data(), 9, response, &responseLen), DRV_SW_OK);
    EXPECT_EQ(key().language, 2u);
    EXPECT_TRUE(test::keepsLaterFields(path)) << test::readText(path);
}

}  // namespace
}  // namespace orva::softkey
