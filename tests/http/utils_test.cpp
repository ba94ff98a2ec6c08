#include "http/utils.h"

#include <gtest/gtest.h>

#include "http/base64.h"
#include "http/md5.h"
#include "support/fake_driver.h"

using namespace norvane;
using namespace norvane::Utils;

namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace

TEST(ReplyValue, BracketedStyleReadsEachLine) {
    const std::string reply = "stream1_name:(FRONT)\r\nstream1_sw:(1)\r\n";
    EXPECT_EQ(GetBracketedReplyValue("stream1_name", reply), "FRONT");
    EXPECT_EQ(GetBracketedReplyValue("stream1_sw", reply), "1");
    EXPECT_EQ(GetBracketedReplyValue("stream2_sw", reply), "");
}

TEST(ReplyValue, NameAsTailOfLongerNameIsSkipped) {
    const std::string reply = "xstream1_sw:(7)\r\nstream1_sw:(1)\r\n";
    EXPECT_EQ(GetBracketedReplyValue("stream1_sw", reply), "1");
    EXPECT_EQ(GetBracketedReplyValue("stream1_sw", "xstream1_sw:(7)\r\n"), "");
}

TEST(ReplyValue, PlainStyleWithoutFinalLineBreak) {
    EXPECT_EQ(GetPlainReplyValue("rtsp_port", "model:(VCC)\r\nrtsp_port:554"), "554");
    EXPECT_EQ(GetPlainReplyValue("stream1_name", "stream1_name:(FRONT)\r\n"), "FRONT");
    EXPECT_EQ(GetReplyValue("stream1_name", ":", "stream1_name:(FRONT)\r\n", "\r\n"), "(FRONT)");
}

TEST(ReplyValue, LineWithoutSeparatorResumesAfterNextSeparator) {
    // The first occurrence has no separator on its line; the search goes on after the separator
    // of the second line, so the second line's value is not found either.
    EXPECT_EQ(GetBracketedReplyValue("aspect_ratio", "aspect_ratio\r\naspect_ratio:(1)\r\n"), "");
    EXPECT_EQ(GetBracketedReplyValue("aspect_ratio", "aspect_ratio:(1)\r\n"), "1");
}

TEST(ReplyValue, BlanksAroundNameAndFirstMatchWins) {
    EXPECT_EQ(GetPlainReplyValue("a", " \ta \t:x\r\na:y"), "x");
    EXPECT_EQ(GetReplyValue("timeout", "=", "12345678;timeout=60", ";\r\n"), "60");
    // The value is not trimmed.
    EXPECT_EQ(GetReplyValue("a", ":", "a: v \r\n", "\r\n"), " v ");
}

TEST(ReplyValue, EmptyValuesAndArguments) {
    EXPECT_EQ(GetPlainReplyValue("a", "a:"), "");
    EXPECT_EQ(GetPlainReplyValue("a", "a:\r\nb:1"), "");
    EXPECT_EQ(GetReplyValue("", ":", "a:1", "\r\n"), "");
    EXPECT_EQ(GetReplyValue("a", "", "a:1", "\r\n"), "");
    EXPECT_EQ(GetReplyValue("a", ":", "a:1", ""), "");
}

TEST(ReplyValue, NameBeginningWithTerminatorEnds) {
    // Such names would otherwise be found again at the same position for ever.
    EXPECT_EQ(GetReplyValue("\n", "\n", "\n\n\n", "\n"), "");
    EXPECT_EQ(GetReplyValue("\nx", ":", "\nx\nx", "\n"), "");
    EXPECT_EQ(GetReplyValue("::", ":", "a::b", "\r\n"), "");
}

TEST(ParseInteger, AcceptsSignedDecimal) {
    uint32_t value = 99;
    EXPECT_TRUE(ParseInteger("-1", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseInteger("+7", value));
    EXPECT_EQ(value, 7u);
    EXPECT_TRUE(ParseInteger("2147483647", value));
    EXPECT_EQ(value, 0x7FFFFFFFu);
    EXPECT_TRUE(ParseInteger("-2147483648", value));
    EXPECT_EQ(value, 0x80000000u);
    EXPECT_TRUE(ParseInteger("007", value));
    EXPECT_EQ(value, 7u);
}

TEST(ParseInteger, RefusesNonNumbersAndOverflow) {
    for (const char* text : {"", "-", "+", "12a", " 12", "12 ", "1-2", "--1", "0x10",
                             "2147483648", "-2147483649", "99999999999999999999999"}) {
        uint32_t value = 5;
        EXPECT_FALSE(ParseInteger(text, value)) << '"' << text << '"';
        EXPECT_EQ(value, 0u) << text;
    }
}

TEST(TextHelpers, TrimRemoveLower) {
    EXPECT_EQ(TrimBlanks(" \t a b\t "), "a b");
    EXPECT_EQ(TrimBlanks("\r\nx\r\n"), "\r\nx\r\n");
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(RemoveChars("()", "(a(b)c)"), "abc");
    EXPECT_EQ(RemoveChars("\"", "\"realm\""), "realm");
    EXPECT_EQ(ToLowerCopy("RTP/AVP Video"), "rtp/avp video");
}

TEST(ShouldLog, ThinsOutOverTwentyCalls) {
    uint32_t counter = 0;
    std::vector<int> logged;
    for (int call = 1; call <= 20; ++call)
        if (ShouldLog(counter))
            logged.push_back(call);
    EXPECT_EQ(logged, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16}));
}

TEST(ShouldLog, SparseRangesAndWrap) {
    uint32_t counter = 239;
    EXPECT_TRUE(ShouldLog(counter));  // 240
    counter = 254;
    EXPECT_FALSE(ShouldLog(counter));  // 255 lies in the multiple-of-256 range
    EXPECT_TRUE(ShouldLog(counter));   // 256
    counter = 4094;
    EXPECT_FALSE(ShouldLog(counter));  // 4095 lies in the multiple-of-4096 range
    EXPECT_TRUE(ShouldLog(counter));   // 4096
    counter = 4096 * 2 - 1;
    EXPECT_TRUE(ShouldLog(counter));
    counter = 65534;
    EXPECT_FALSE(ShouldLog(counter));
    EXPECT_EQ(counter, 4095u);
    EXPECT_TRUE(ShouldLog(counter));  // 4096
}

TEST(LogResult, SkipsEmptyAndUnloggedResults) {
    test::FakeDriver driver;
    CResultDef result;
    LogResult(&driver, result);
    result.Set(CResultDef::LEVEL_NOT_LOGGED, CResultDef::CODE_NOT_SENT, "not logged");
    LogResult(&driver, result);
    EXPECT_EQ(driver.log.Count(), 0u);
    result.Set(CResultDef::LEVEL_ERROR, CResultDef::CODE_BAD_STATUS, "100% failed");
    LogResult(&driver, result);
    const auto records = driver.log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 1);
    EXPECT_EQ(records[0].text, "100% failed");
}

TEST(ResultDef, FreshAndCopied) {
    CResultDef fresh;
    EXPECT_EQ(fresh.Level(), 3);
    EXPECT_EQ(fresh.Code(), 0u);
    EXPECT_TRUE(fresh.Message().empty());
    EXPECT_TRUE(fresh.Succeeded());
    CResultDef failed;
    failed.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_EMPTY_REPLY, "%s: %d", "m", 5);
    CResultDef copy(failed);
    fresh = failed;
    for (const CResultDef* r : {&copy, &fresh}) {
        EXPECT_EQ(r->Level(), 1);
        EXPECT_EQ(r->Code(), 10u);
        EXPECT_EQ(r->Message(), "m: 5");
        EXPECT_FALSE(r->Succeeded());
    }
}

TEST(Credentials, BasicEncodingAndLimit) {
    std::string out = "stale";
    EXPECT_TRUE(MakeBasicCredentials("abc", "", out));
    EXPECT_EQ(out, "YWJjOg==");
    EXPECT_TRUE(MakeBasicCredentials("Aladdin", "open sesame", out));
    EXPECT_EQ(out, "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_TRUE(MakeBasicCredentials(std::string(36, 'u'), std::string(35, 'p'), out));
    EXPECT_EQ(out.size(), 96u);
    EXPECT_FALSE(MakeBasicCredentials(std::string(36, 'u'), std::string(36, 'p'), out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(MakeBasicCredentials(std::string(500, 'u'), "p", out));
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        std::vector<uint8_t> decoded;
        EXPECT_TRUE(Base64Decode(encoded, decoded));
        EXPECT_EQ(decoded, Bytes(plain)) << encoded;
    }
}

TEST(Base64, DecodeSkipsForeignCharactersAndHonoursLimit) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(Base64Decode("Zm9v\r\nYm*Fy", out));
    EXPECT_EQ(out, Bytes("foobar"));
    const uint8_t binary[] = {0x00, 0xFF, 0xFE, 0x80, 0x7F};
    EXPECT_TRUE(Base64Decode(Base64Encode(binary, sizeof binary), out));
    EXPECT_EQ(out, std::vector<uint8_t>(binary, binary + sizeof binary));
    EXPECT_TRUE(Base64Decode("Zm9vYmFy", out, 6));
    EXPECT_FALSE(Base64Decode("Zm9vYmFy", out, 5));
    EXPECT_TRUE(out.empty());
}

TEST(Md5, Rfc1321Vectors) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                     "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, IncrementalUpdatesMatchOneShot) {
    const std::string text(1000, 'x');
    CMd5 md5;
    for (size_t i = 0; i < text.size(); i += 37)
        md5.Update(text.data() + i, std::min<size_t>(37, text.size() - i));
    const CMd5::Digest pieces = md5.Final();
    md5.Update(text.data(), text.size());
    EXPECT_EQ(md5.Final(), pieces);
    EXPECT_EQ(Md5Hex(text), Md5Hex(std::string(1000, 'x')));
}

TEST(HexToBytes, PairsCaseAndOddLength) {
    EXPECT_EQ(HexToBytes("00ff7A"), (std::vector<uint8_t>{0x00, 0xFF, 0x7A}));
    EXPECT_EQ(HexToBytes("zz1g"), (std::vector<uint8_t>{0x00, 0x10}));
    EXPECT_EQ(HexToBytes("abc"), (std::vector<uint8_t>{0xAB, 0x0C}));
    EXPECT_TRUE(HexToBytes("").empty());
}

TEST(SplitString, KeepsInnerEmptyPieces) {
    using List = std::vector<std::string>;
    EXPECT_EQ(SplitString("", ','), List{});
    EXPECT_EQ(SplitString("a,,b", ','), (List{"a", "", "b"}));
    EXPECT_EQ(SplitString("a,b,", ','), (List{"a", "b"}));
    EXPECT_EQ(SplitString(",a", ','), (List{"", "a"}));
    EXPECT_EQ(SplitString(",", ','), List{""});
    EXPECT_EQ(SplitString("video 0 RTP/AVP 96", ' '), (List{"video", "0", "RTP/AVP", "96"}));
}
