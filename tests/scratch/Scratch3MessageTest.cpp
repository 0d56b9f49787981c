// The Scratch 3 bridge's messages without sockets: the JSON reader's
// strictness, what a frame asks for or why it is refused, the texts sent,
// and the handshake's Host and Origin rules.
#include "Scratch3Json.h"
#include "Scratch3Protocol.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kobito {
namespace {

// ---- JSON

struct JsonCase {
    std::string text;
    bool valid;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
    *os << (c.valid ? "valid: " : "invalid: ") << testing::PrintToString(c.text);
}

class JsonSyntax : public testing::TestWithParam<JsonCase> {};

TEST_P(JsonSyntax, IsAcceptedOnlyWhenWellFormed) {
    std::string error;
    const bool parsed = ParseJson(GetParam().text, &error).has_value();
    EXPECT_EQ(parsed, GetParam().valid) << error;
    EXPECT_EQ(error.empty(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonSyntax,
    testing::Values(
        JsonCase{R"({"type":"hello"})", true}, JsonCase{" \t\r\n{ } \n", true},
        JsonCase{"[1,-0,2.5e-3,1E+2,true,false,null,\"\"]", true},
        JsonCase{R"({"a":{"b":[{"c":[]}]}})", true}, JsonCase{R"("\u00e9\ud83d\ude00\/\b")", true},
        JsonCase{"\"\xE6\xAD\xA9\"", true}, // 歩, raw UTF-8
        JsonCase{"", false}, JsonCase{"{", false}, JsonCase{"{\"a\"}", false},
        JsonCase{"{\"a\":1,}", false}, JsonCase{"[1,]", false}, JsonCase{"{'a':1}", false},
        JsonCase{"{\"a\":01}", false}, JsonCase{"{\"a\":.5}", false}, JsonCase{"{\"a\":1.}", false},
        JsonCase{"{\"a\":+1}", false}, JsonCase{"{\"a\":1e}", false}, JsonCase{"NaN", false},
        JsonCase{"tru", false}, JsonCase{"{} {}", false}, JsonCase{"\"a\nb\"", false},
        JsonCase{R"("\x41")", false}, JsonCase{R"("\u12")", false},
        JsonCase{R"("\ud800")", false},          // lone high surrogate
        JsonCase{R"("\udc00\ud800")", false},    // reversed pair
        JsonCase{"\"\xC0\xAF\"", false},         // overlong '/'
        JsonCase{"\"\xED\xA0\x80\"", false},     // encoded surrogate
        JsonCase{"\"\xF4\x90\x80\x80\"", false}, // above U+10FFFF
        JsonCase{"\"\xE6\xAD\"", false},         // cut sequence
        JsonCase{std::string("\"a\0b\"", 5), false},
        JsonCase{std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']'), true},
        JsonCase{std::string(kJsonMaxDepth + 1, '[') + std::string(kJsonMaxDepth + 1, ']'), false},
        JsonCase{std::string(100000, '['), false}));

TEST(Json, KeepsIntegersThatFitAndTheLastOfRepeatedMembers) {
    const auto v = ParseJson(
        R"({"a":1,"a":-9007199254740991,"b":1.0,"c":1e2,"d":99999999999999999999,"s":"\u6b69"})");
    ASSERT_TRUE(v);
    ASSERT_NE(v->Member("a"), nullptr);
    EXPECT_EQ(v->Member("a")->integer, -9007199254740991);
    EXPECT_FALSE(v->Member("b")->integer);
    EXPECT_FALSE(v->Member("c")->integer);
    EXPECT_FALSE(v->Member("d")->integer) << "beyond 64 bits";
    EXPECT_EQ(v->Member("s")->text, "\xE6\xAD\xA9");
    EXPECT_EQ(v->Member("missing"), nullptr);
}

TEST(Json, QuotedTextReadsBackAsItWasAndStraysBecomeReplacementCharacters) {
    const std::vector<std::string> texts = {
        "",       "Walk",    "歩く",     "a\"b\\c", std::string("\0\x01\x1F\x7F", 4),
        "\r\n\t", "😀 emoji", "</script>"};
    for (const std::string& text : texts) {
        const auto v = ParseJson(JsonQuote(text));
        ASSERT_TRUE(v) << JsonQuote(text);
        EXPECT_EQ(v->text, text);
    }
    const auto stray = ParseJson(JsonQuote("a\xFF"
                                           "b\xE6\xAD"));
    ASSERT_TRUE(stray);
    EXPECT_EQ(stray->text, "a\xEF\xBF\xBD"
                           "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_TRUE(IsValidUtf8(stray->text));
}

// ---- requests

struct RequestCase {
    std::string frame;
    std::string reason; // empty: a request
    TScratch3Type type = TScratch3Type::Hello;
    std::int64_t id = 0;
    std::string slot;
    bool refusalHasId = false;
};

RequestCase Asks(std::string frame, TScratch3Type type, std::int64_t id = 0,
                 std::string slot = {}) {
    return {std::move(frame), {}, type, id, std::move(slot), false};
}

RequestCase Refused(std::string frame, std::string reason, bool withId = false) {
    return {std::move(frame), std::move(reason), TScratch3Type::Hello, 0, {}, withId};
}

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.frame);
}

class Requests : public testing::TestWithParam<RequestCase> {};

TEST_P(Requests, AreReadOrRefusedWithTheirReason) {
    const RequestCase& c = GetParam();
    const TScratch3Parsed parsed = ParseScratch3Request(c.frame);
    if (c.reason.empty()) {
        ASSERT_TRUE(parsed.request) << parsed.refusal.reason << ": " << parsed.refusal.message;
        EXPECT_EQ(parsed.request->type, c.type);
        EXPECT_EQ(parsed.request->id, c.id);
        EXPECT_EQ(parsed.request->slot, c.slot);
        return;
    }
    ASSERT_FALSE(parsed.request);
    EXPECT_EQ(parsed.refusal.reason, c.reason);
    EXPECT_FALSE(parsed.refusal.message.empty());
    EXPECT_EQ(parsed.refusal.id.has_value(), c.refusalHasId);
    // The reply is JSON of the right type, whatever the frame held.
    const auto reply = ParseJson(Scratch3RefusalReply(parsed.refusal));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Member("type")->text, c.refusalHasId ? "result" : "error");
    EXPECT_EQ(reply->Member("reason")->text, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Requests,
    testing::Values(Asks(R"({"type":"hello"})", TScratch3Type::Hello),
                    Asks(R"({"type":"hello","protocol":1,"extra":[1,{}]})", TScratch3Type::Hello),
                    Asks(R"({"type":"stop"})", TScratch3Type::Stop),
                    Asks(R"({"type":"play","id":7,"slot":"Walk"})", TScratch3Type::Play, 7, "Walk"),
                    Asks(R"({ "slot" : "\u6b69\u304f", "id" : -3, "type" : "play" })",
                         TScratch3Type::Play, -3, "歩く"),
                    Asks(R"({"type":"play","id":9007199254740991,"slot":""})", TScratch3Type::Play,
                         9007199254740991, ""),
                    Refused("{\"type\":\"play\"", "invalid-json"),
                    Refused("play Walk", "invalid-json"), Refused("\"\xFF\"", "invalid-json"),
                    Refused(R"(["play"])", "bad-request"), Refused(R"("hello")", "bad-request"),
                    Refused(R"({})", "bad-request"), Refused(R"({"type":1})", "bad-request"),
                    Refused(R"({"type":"Hello"})", "unknown-type"),
                    Refused(R"({"type":"quit"})", "unknown-type"),
                    Refused(R"({"type":"play","slot":"Walk"})", "bad-request"),
                    Refused(R"({"type":"play","id":"7","slot":"Walk"})", "bad-request"),
                    Refused(R"({"type":"play","id":7.5,"slot":"Walk"})", "bad-request"),
                    Refused(R"({"type":"play","id":9007199254740992,"slot":"Walk"})",
                            "bad-request"),
                    Refused(R"({"type":"play","id":7})", "bad-request", true),
                    Refused(R"({"type":"play","id":7,"slot":["Walk"]})", "bad-request", true),
                    Refused(R"({"type":"play","id":7,"slot":null})", "bad-request", true)));

// ---- what is sent

TEST(Scratch3Texts, AreTheDocumentedObjects) {
    std::vector<std::string> slots(15);
    slots[0] = "Walk";
    slots[2] = "歩く \"x\"";
    EXPECT_EQ(
        Scratch3HelloReply("1.10", slots, false, true),
        R"({"type":"hello","version":"1.10","protocol":1,"slots":["Walk","",)"
        R"("歩く \"x\"","","","","","","","","","","","",""],"playing":false,"portOpen":true})");
    EXPECT_EQ(Scratch3Result(7, "done"), R"({"type":"result","id":7,"result":"done"})");
    EXPECT_EQ(Scratch3ResultError(-2, "unknown-slot", "no \"x\""),
              R"({"type":"result","id":-2,"result":"error","reason":"unknown-slot",)"
              R"("message":"no \"x\""})");
    EXPECT_EQ(Scratch3Slots({slots.data(), 2}), R"({"type":"slots","slots":["Walk",""]})");
    EXPECT_EQ(Scratch3Done("Walk"), R"({"type":"done","slot":"Walk"})");
    EXPECT_EQ(Scratch3Status(true, false), R"({"type":"status","playing":true,"portOpen":false})");
    EXPECT_EQ(Scratch3Error("too-large", "m"),
              R"({"type":"error","reason":"too-large","message":"m"})");
    // A caption that is not UTF-8 still gives JSON.
    EXPECT_TRUE(ParseJson(Scratch3Done("\x82\xA0")));
}

// ---- handshake

struct OriginCase {
    std::string header;
    std::optional<std::string> normalised;
    bool known = false;
};

void PrintTo(const OriginCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.header);
}

class Origins : public testing::TestWithParam<OriginCase> {};

TEST_P(Origins, AreNormalisedAndKnownOnlyForTheEditorsAndThisComputer) {
    const OriginCase& c = GetParam();
    EXPECT_EQ(NormaliseScratch3Origin(c.header), c.normalised);
    if (c.normalised) {
        EXPECT_EQ(IsKnownScratch3Origin(*c.normalised), c.known);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Origins,
    testing::Values(
        OriginCase{"https://turbowarp.org", "https://turbowarp.org", true},
        OriginCase{"https://TurboWarp.org", "https://turbowarp.org", true},
        OriginCase{"https://staging.turbowarp.org", "https://staging.turbowarp.org", true},
        OriginCase{"https://experiments.turbowarp.org", "https://experiments.turbowarp.org", true},
        OriginCase{"https://mirror.turbowarp.xyz", "https://mirror.turbowarp.xyz", true},
        OriginCase{"tw-editor://.", "tw-editor://.", true},
        OriginCase{"http://127.0.0.1:8601", "http://127.0.0.1:8601", true},
        OriginCase{"http://localhost", "http://localhost", true},
        OriginCase{"https://[::1]:8443", "https://[::1]:8443", true},
        OriginCase{"null", "null", false}, OriginCase{"NULL", "null", false},
        OriginCase{"http://turbowarp.org", "http://turbowarp.org", false},
        OriginCase{"https://turbowarp.org.evil.example", "https://turbowarp.org.evil.example",
                   false},
        OriginCase{"https://evilturbowarp.org", "https://evilturbowarp.org", false},
        OriginCase{"https://turbowarp.org:444", "https://turbowarp.org:444", false},
        OriginCase{"http://127.0.0.1.evil.example", "http://127.0.0.1.evil.example", false},
        OriginCase{"http://localhostx:80", "http://localhostx:80", false},
        OriginCase{"ftp://127.0.0.1", "ftp://127.0.0.1", false},
        OriginCase{"tw-packager://.", "tw-packager://.", false}, OriginCase{"", std::nullopt},
        OriginCase{"turbowarp.org", std::nullopt}, OriginCase{"https://", std::nullopt},
        OriginCase{"://x", std::nullopt}, OriginCase{"https://turbowarp.org/", std::nullopt},
        OriginCase{"https://turbowarp.org/editor", std::nullopt},
        OriginCase{"https://a b", std::nullopt}, OriginCase{"https://x:", std::nullopt},
        OriginCase{"https://x:1234567", std::nullopt},
        OriginCase{"https://x=1\r\n[REMOCON]", std::nullopt},
        OriginCase{";https://x", std::nullopt}, OriginCase{"https://[::1", std::nullopt},
        OriginCase{"https://x@y", std::nullopt},
        OriginCase{"https://" + std::string(300, 'a'), std::nullopt}));

TEST(Scratch3Host, MustNameThisComputerWithTheBridgesPort) {
    EXPECT_TRUE(IsScratch3HostAllowed("127.0.0.1:42002", 42002));
    EXPECT_TRUE(IsScratch3HostAllowed("localhost:42002", 42002));
    EXPECT_TRUE(IsScratch3HostAllowed("LocalHost:42002", 42002));
    for (const char* host :
         {"127.0.0.1:42003", "127.0.0.1", "localhost", "evil.example:42002", "127.0.0.2:42002",
          "[::1]:42002", "127.0.0.1:42002 ", "127.0.0.1:042002", "", "localhost.:42002"})
        EXPECT_FALSE(IsScratch3HostAllowed(host, 42002)) << host;
}

} // namespace
} // namespace kobito
