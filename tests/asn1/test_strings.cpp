// Character strings: the kinds' descriptions, character sets and copies.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace ASN1;

AbstractString str(void const* info, std::string const& text)
{
    return AbstractString(info, text);
}

TEST(VStrings, NumericStringValidity)
{
    EXPECT_EQ(-1, str(&NumericString::theInfo, "12 34").find_first_invalid());
    EXPECT_EQ(2, str(&NumericString::theInfo, "12a").find_first_invalid());
    EXPECT_EQ(-1, str(&NumericString::theInfo, "").find_first_invalid());
    EXPECT_EQ(0, str(&NumericString::theInfo, std::string(1, '\0')).find_first_invalid());
}

TEST(VStrings, PrintableStringSet)
{
    for (char bad : {'*', '@', '_', '!', '"', '<', '~'})
        EXPECT_EQ(1, str(&PrintableString::theInfo, std::string("A") + bad).find_first_invalid()) << bad;
    EXPECT_EQ(-1, str(&PrintableString::theInfo, "It's ok? (a+b), -./:=").find_first_invalid());
}

TEST(VStrings, IA5AndVisibleDescriptions)
{
    std::unique_ptr<AbstractData> v(AbstractData::create(&IA5String::theInfo));
    auto* ia5 = dynamic_cast<IA5String*>(v.get());
    ASSERT_NE(nullptr, ia5);
    // The IA5 set starts with character 0: embedded zeros are valid.
    ia5->assign(std::string("a\0b", 3));
    EXPECT_EQ(-1, ia5->find_first_invalid());
    ia5->push_back(char(0x80));
    EXPECT_EQ(3, ia5->find_first_invalid());

    EXPECT_EQ(0, str(&VisibleString::theInfo, std::string(1, '\t')).find_first_invalid());
    EXPECT_EQ(-1, str(&GeneralString::theInfo, std::string("\0\xff", 2)).find_first_invalid());
}

TEST(VStrings, CompareAndCopy)
{
    IA5String abc("abc"), abd("abd"), ab("ab");
    EXPECT_LT(abc.compare(abd), 0);
    EXPECT_GT(abc.compare(ab), 0);
    EXPECT_EQ(0, abc.compare(IA5String("abc")));
    EXPECT_GT(IA5String("\xff").compare(abc), 0);  // bytes compare unsigned
    EXPECT_TRUE(abc == IA5String("abc"));
    EXPECT_TRUE(abc != abd);

    IA5String copy(abc);
    copy += "x";
    copy = "text";
    EXPECT_EQ("text", static_cast<std::string const&>(copy));
    copy = std::string("abcx");
    EXPECT_EQ("abc", static_cast<std::string const&>(abc));
    AbstractString target(&VisibleString::theInfo, "zz");
    target = abc;
    EXPECT_EQ(&VisibleString::theInfo, target.info());
    EXPECT_EQ("abc", static_cast<std::string const&>(target));
    AbstractString& same = target.assign(std::string("q"));
    EXPECT_EQ(&target, &same);

    IA5String fromChars("a\0b");  // copied up to the terminator
    EXPECT_EQ(1u, fromChars.size());
    EXPECT_TRUE(AbstractString(&IA5String::theInfo, static_cast<char const*>(nullptr)).empty());
}

} // namespace
