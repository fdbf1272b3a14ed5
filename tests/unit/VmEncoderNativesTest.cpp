// Encoder group: UTF-8 encoding unit by unit (pairs as one character) and
// strict decoding, checked against literals and against Qt's UTF-8 codec.
#include <QString>
#include <random>

#include "Containers/OVector.h"
#include "VmNativeFixture.h"

using namespace vm;

namespace {

using Pair = VmNativeFixture::Pair;

enum { ENCODER = 28 };

const Pair kMalformed{4, "DataFormatException: "};

struct VmEncoderNatives : VmNativeFixture {
    Word unicode(const std::u16string& aText)
    {
        return keep(newStringObject(heap(), OString(std::u16string_view(aText))));
    }
    Word bytes(const std::string& aData)
    {
        return keep(newByteVector(heap(), aData.data(), aData.size()));
    }
    std::string encode(const std::u16string& aText)
    {
        Word array = callWith(ENCODER, 1, {unicode(aText)}, 1);
        std::vector<uint8_t> view = byteVectorBytes(heap(), Addr(array));
        return std::string(view.begin(), view.end());
    }
    std::u16string decode(const std::string& aBytes)
    {
        Word string = callWith(ENCODER, 2, {bytes(aBytes)}, 1);
        return stringOf(heap(), Addr(string)).toU16();
    }
    Pair decodeError(const std::string& aBytes) { return errorWith(ENCODER, 2, {bytes(aBytes)}); }
};

}  // namespace

TEST_F(VmEncoderNatives, EncodesEachUnitInOneToThreeBytes)
{
    EXPECT_EQ(encode(u""), "");
    EXPECT_EQ(encode(u"A"), "A");
    EXPECT_EQ(encode(std::u16string(1, u'\0')), std::string(1, '\0'));
    EXPECT_EQ(encode(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(encode(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(encode(u"\u007F\u0080\u07FF\u0800\uFFFF"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    // A pair is one character; lone surrogates keep their own three bytes.
    EXPECT_EQ(encode(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(encode(std::u16string{char16_t(0xD800)}), "\xED\xA0\x80");
    EXPECT_EQ(encode(std::u16string{char16_t(0xDC00), char16_t(0xD800)}), "\xED\xB0\x80\xED\xA0\x80");
    EXPECT_EQ(encode(std::u16string{char16_t(0xD83D), u'x'}), "\xED\xA0\xBDx");
    EXPECT_EQ(errorWith(ENCODER, 1, {0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmEncoderNatives, DecodesOnlyWellFormedUtf8)
{
    EXPECT_EQ(decode(""), u"");
    EXPECT_EQ(decode("h\xC3\xA9llo"), u"h\u00E9llo");
    EXPECT_EQ(decode("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(decode("\xF0\x90\x80\x80"), u"\U00010000");
    EXPECT_EQ(decode("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    EXPECT_EQ(decode("\xEF\xBF\xBF\xED\x9F\xBF"), u"\uFFFF\uD7FF");
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\x80", "\xBF",
                            "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3\x28", "a\xE2\x28\xA1", "\xF8\x88\x80\x80\x80"})
        EXPECT_EQ(decodeError(bad), kMalformed) << bad;
    EXPECT_EQ(errorWith(ENCODER, 2, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(ENCODER, 2, {cell(0)}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmEncoderNatives, RoundTripsAgreeWithQt)
{
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round) {
        std::u16string text;
        int length = int(random() % 60);
        for (int i = 0; i < length; ++i) {
            switch (random() % 4) {
            case 0:
                text.push_back(char16_t(random() % 0x80));
                break;
            case 1:
                text.push_back(char16_t(0x80 + random() % 0x780));
                break;
            case 2: {
                char16_t unit = char16_t(0x800 + random() % 0xF800);
                text.push_back(unit >= 0xD800 && unit <= 0xDFFF ? u'?' : unit);
                break;
            }
            default: {
                char32_t c = 0x10000 + random() % 0x100000;
                text.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
                text.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
            }
            }
        }
        QByteArray model = QString::fromUtf16(text.data(), qsizetype(text.size())).toUtf8();
        std::string encoded = encode(text);
        EXPECT_EQ(encoded, std::string(model.constData(), size_t(model.size())));
        EXPECT_EQ(decode(encoded), text);
    }
}

TEST_F(VmEncoderNatives, UnknownFunctionsNameTheGroup)
{
    for (int function : {0, 3, -7})
        EXPECT_EQ(errorWith(ENCODER, function, {}), Pair(10, "VMException: Encoder:77"));
}
