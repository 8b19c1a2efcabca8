// The bounds-checked byte cursors, decimal reading and UTF conversion.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/byte_cursor.h"
#include "support/decimal.h"
#include "support/utf_text.h"

namespace vz {
namespace {

// Little-endian words inside the range only, without wrapping; a refused step
// leaves the cursor where it was and says why.
TEST(ByteCursors, ReadAndWriteOnlyInsideTheirRange) {
    const BYTE bytes[10] = {0x78, 0x56, 0x34, 0x12, 1, 0, 0, 0, 0xAA, 0xBB};
    ByteReader reader(bytes, sizeof bytes);
    DWORD word = 0;
    ASSERT_TRUE(reader.ReadWord(&word));
    EXPECT_EQ(word, 0x12345678u);
    ASSERT_TRUE(reader.ReadWord(&word));
    EXPECT_EQ(word, 1u);
    EXPECT_FALSE(reader.ReadWord(&word));
    EXPECT_EQ(reader.Offset(), 8u);
    EXPECT_EQ(reader.FailureMessage(),
              "read of 4 bytes at offset 8 passes the end of the 10-byte range");
    const BYTE* span = nullptr;
    ASSERT_TRUE(reader.ReadSpan(2, &span));
    EXPECT_EQ(span, bytes + 8);
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_FALSE(reader.Seek(11));
    EXPECT_TRUE(reader.Seek(10));
    EXPECT_FALSE(reader.Skip(1));
    EXPECT_TRUE(reader.WordAt(6, &word));
    EXPECT_EQ(word, 0xBBAA0000u);
    EXPECT_FALSE(reader.WordAt(7, &word));
    EXPECT_FALSE(reader.WordAt(~0ull - 1, &word));
    EXPECT_FALSE(ByteReader(nullptr, 100).Skip(1));

    std::vector<BYTE> out(12, 0xEE);
    ByteWriter writer(out.data(), out.size());
    ASSERT_TRUE(writer.WriteWord(0x04030201u));
    const char16_t text[] = u"A";
    ASSERT_TRUE(writer.WriteBytes(text, 2));
    ASSERT_TRUE(writer.PadTo(4));
    EXPECT_EQ(writer.Offset(), 8u);
    EXPECT_FALSE(writer.WriteQword(1));  // 8 bytes into the 4 left: nothing written
    EXPECT_EQ(writer.FailureMessage(),
              "write of 8 bytes at offset 8 passes the end of the 12-byte range");
    ASSERT_TRUE(writer.WordAt(8, 7));
    EXPECT_FALSE(writer.WordAt(9, 7));
    EXPECT_EQ(out, (std::vector<BYTE>{1, 2, 3, 4, 'A', 0, 0, 0, 7, 0, 0, 0}));
}

TEST(LenientDecimal, ReadsLikeWtoiWithEachSaturation) {
    struct Case { std::u16string text; LONG asInt; DWORD asUnsigned; };
    const Case cases[] = {
        {u"238", 238, 238}, {u"  +17x", 17, 17}, {u"\t\n12", 12, 12}, {u"abc", 0, 0}, {u"", 0, 0},
        {u"- 5", 0, 0}, {u"-1", -1, 0xFFFFFFFFu}, {u"2147483648", INT_MAX, 0x80000000u},
        {u"-2147483649", INT_MIN, 0x7FFFFFFFu}, {u"4294967295", INT_MAX, 0xFFFFFFFFu},
        {u"99999999999999999999999", INT_MAX, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideToInt(c.text.data(), c.text.size()), c.asInt) << Utf16ToUtf8(c.text);
        EXPECT_EQ(WideToUnsigned32(c.text.data(), c.text.size()), c.asUnsigned) << Utf16ToUtf8(c.text);
    }
    // The length bounds the scan: digits beyond it are not read.
    const std::u16string text = u"1234";
    EXPECT_EQ(WideToInt(text.data(), 2), 12);
}

// Whole numbers and seconds from the command line: all of the text or nothing.
TEST(StrictDecimal, AcceptsOnlyWholeInRangeText) {
    struct Case { const char* text; ULONGLONG value; const char* error; };  // value 0: refused
    const Case cases[] = {
        {"5", 5, ""},           {"65535", 65535, ""},   {"", 0, "-sc: a whole number is needed"},
        {"0", 0, "-sc: '0' is out of range (1 to 65535)"},
        {"65536", 0, "-sc: '65536' is out of range (1 to 65535)"},
        {"99999999999999999999999", 0, "-sc: '99999999999999999999999' is out of range (1 to 65535)"},
        {"12x", 0, "-sc: '12x' is not a whole number"}, {"+3", 0, "-sc: '+3' is not a whole number"},
        {" 3", 0, "-sc: ' 3' is not a whole number"},   {"-1", 0, "-sc: '-1' is not a whole number"},
    };
    for (const Case& c : cases) {
        ULONGLONG value = 0;
        std::string error;
        EXPECT_EQ(ParseWholeNumber("-sc", c.text, 1, 65535, &value, &error), c.value != 0) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }

    struct Seconds { const char* text; double seconds; };  // 0: refused
    const Seconds seconds[] = {{"2", 2.0}, {"0.5", 0.5}, {"1.25", 1.25}, {"0.1", 0.1}, {".5", 0},
                               {"1.", 0},  {"1e3", 0},   {"-1", 0},      {"0", 0},     {"3601", 0},
                               {"", 0},    {"1.2.3", 0}};
    for (const Seconds& c : seconds) {
        double read = 0;
        std::string error;
        EXPECT_EQ(ParseSeconds("-si", c.text, 0.001, 3600, &read, &error), c.seconds != 0) << c.text;
        EXPECT_EQ(read, c.seconds) << c.text;
        EXPECT_EQ(error.empty(), c.seconds != 0) << c.text << ": " << error;
    }
    double read = 0;
    std::string error;
    EXPECT_FALSE(ParseSeconds("-si", "0", 0.5, 3600, &read, &error));
    EXPECT_EQ(error, "-si: '0' is out of range (0.5 to 3600 seconds)");
}

TEST(UtfText, RoundTripsAndReplacesEveryInvalidByte) {
    const std::string text = "Citt\xC3\xA0 \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"Citt\u00E0 \u20AC \U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), text);

    struct Case { std::string bytes; std::u16string expected; };
    const Case invalid[] = {
        {"\xC0\xAF", u"\xFFFD\xFFFD"},              // overlong '/'
        {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},    // a surrogate
        {"\xE2\x82", u"\xFFFD\xFFFD"},              // cut short
        {"\xFF" "a", u"\xFFFD" u"a"},
        {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // beyond U+10FFFF
    };
    for (const Case& c : invalid) {
        std::u16string out;
        EXPECT_FALSE(DecodeUtf8(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                c.bytes.size(), &out));
        EXPECT_EQ(out, c.expected);
    }
    // An unpaired surrogate becomes U+FFFD (EF BF BD).
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(Utf16ToUtf8(lone, 3), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace vz
