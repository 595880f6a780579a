// Long results in pieces: the exact leftsize sequences, the pieces joined,
// every frame within the browser's limit.

#include <string>
#include <vector>

#include "fake_api_text.h"
#include "host_test_support.h"

namespace orva::native_host::test {
namespace {

using HostChunkingTest = FakeApiHostTest;

struct Reply {
    std::string cmdType;
    long long leftsize = -1;  // -1: "Resp" was a plain string
    std::string content;      // the piece, or the plain "Resp"
};

Reply parseReply(const std::string& text) {
    Reply reply;
    const Json json = parseJson(text);
    EXPECT_TRUE(json) << text.substr(0, 100);
    const cJSON* type = cJSON_GetObjectItemCaseSensitive(json.get(), "CmdType");
    reply.cmdType = cJSON_IsString(type) ? type->valuestring : "";
    const cJSON* resp = cJSON_GetObjectItemCaseSensitive(json.get(), "Resp");
    if (cJSON_IsString(resp)) {
        reply.content = resp->valuestring;
    } else {
        // Members in this order: "leftsize", then "content".
        EXPECT_STREQ(resp->child->string, "leftsize");
        EXPECT_STREQ(resp->child->next->string, "content");
        reply.leftsize = static_cast<long long>(resp->child->valuedouble);
        reply.content = resp->child->next->valuestring;
    }
    return reply;
}

class LongResult : public HostChunkingTest {
  protected:
    // A GetSignFileContent result of length bytes; its reply.
    Reply fetchLong(std::size_t length) {
        script(R"({"GetSignFileContent":{"length":)" + std::to_string(length) + "}}");
        const std::string members =
            R"("FileToken":"T","MaxLength":)" + std::to_string(length) + R"(,"FileOffset":0)";
        return parseReply(host().request(request("GetSignFileContent", members)));
    }
    Reply nextPiece() { return parseReply(host().request(request("GetDataPackage"))); }
};

TEST_F(LongResult, ResultsUnderAMillionBytesGoInOneReply) {
    const Reply reply = fetchLong(999'999);
    EXPECT_EQ(reply.leftsize, -1);
    EXPECT_EQ(reply.content, fake_api::fakeText(999'999));
}

TEST_F(LongResult, AMillionBytesGoInOnePieceAndAnEmptyOne) {
    const Reply first = fetchLong(1'000'000);
    EXPECT_EQ(first.cmdType, "GetSignFileContent");
    EXPECT_EQ(first.leftsize, 1);
    EXPECT_EQ(first.content, fake_api::fakeText(1'000'000));
    const Reply last = nextPiece();
    EXPECT_EQ(last.cmdType, "GetDataPackage");
    EXPECT_EQ(last.leftsize, 0);
    EXPECT_EQ(last.content, "");
}

TEST_F(LongResult, TwoMillionBytesEndWithAnEmptyPiece) {
    const std::string expected = fake_api::fakeText(2'000'000);
    std::vector<long long> leftsizes;
    Reply reply = fetchLong(2'000'000);
    std::string joined = reply.content;
    leftsizes.push_back(reply.leftsize);
    while (reply.leftsize > 0) {
        reply = nextPiece();
        joined += reply.content;
        leftsizes.push_back(reply.leftsize);
    }
    EXPECT_EQ(leftsizes, (std::vector<long long>{1'000'001, 1, 0}));
    EXPECT_EQ(reply.content, "");
    EXPECT_EQ(joined, expected);
}

TEST_F(LongResult, TwoAndAHalfMillionBytesAndTheLastPieceRepeated) {
    const std::string expected = fake_api::fakeText(2'500'000);
    Reply reply = fetchLong(2'500'000);
    EXPECT_EQ(reply.leftsize, 1'500'001);
    EXPECT_EQ(reply.content, expected.substr(0, 1'000'000));
    reply = nextPiece();
    EXPECT_EQ(reply.leftsize, 500'001);
    EXPECT_EQ(reply.content, expected.substr(1'000'000, 1'000'000));
    reply = nextPiece();
    EXPECT_EQ(reply.leftsize, 0);
    EXPECT_EQ(reply.content, expected.substr(2'000'000));
    // After the last piece, the last piece again.
    reply = nextPiece();
    EXPECT_EQ(reply.leftsize, 0);
    EXPECT_EQ(reply.content, expected.substr(2'000'000));
}

TEST_F(LongResult, OtherRepliesBetweenPiecesLeaveThePendingResultAlone) {
    const std::string expected = fake_api::fakeText(2'500'000);
    Reply reply = fetchLong(2'500'000);
    EXPECT_EQ(resp("GetVersion"), "1.0.0.0");
    EXPECT_EQ(resp("GMCreatePKCS10"), "-106");
    EXPECT_EQ(host().request("{}"), "");
    script(R"({"GetDevSN":{"code":-102}})");
    EXPECT_EQ(resp("GetMediaID"), "-102");
    reply = nextPiece();
    EXPECT_EQ(reply.leftsize, 500'001);
    EXPECT_EQ(reply.content, expected.substr(1'000'000, 1'000'000));
    // A new long result replaces it.
    reply = fetchLong(1'200'000);
    EXPECT_EQ(reply.leftsize, 200'001);
    reply = nextPiece();
    EXPECT_EQ(reply.leftsize, 0);
    EXPECT_EQ(reply.content, fake_api::fakeText(1'200'000).substr(1'000'000));
}

TEST_F(HostChunkingTest, GetDataPackageBeforeAnyLongResult) {
    EXPECT_EQ(host().request(request("GetDataPackage")),
              R"({"CmdType":"GetDataPackage","Resp":{"leftsize":0,"content":""}})");
}

TEST_F(HostChunkingTest, ALongSignatureIsCutLikeAnyResult) {
    script(R"({"GMUsbKeySign":{"length":1500000}})");
    const Reply first = parseReply(host().request(request(
        "GMUsbKeySign", R"("SignerDN":"","HashName":"","xmlMsg":"x","keyMsg":"k","NewVal":"")")));
    EXPECT_EQ(first.leftsize, 500'001);
    const Reply last = parseReply(host().request(request("GetDataPackage")));
    EXPECT_EQ(first.content + last.content, fake_api::fakeText(1'500'000));
}

}  // namespace
}  // namespace orva::native_host::test
