#include "errors.h"
#include "text_basics.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>

namespace {

struct IntCase
{
    const char16_t* text;
    std::optional<std::int32_t> value; // nullopt: a conversion error
};

TEST(StrToIntTest, ConvertsOrRaisesWithTheTextInTheMessage)
{
    const IntCase cases[] = {
        IntCase{u"0", 0}, IntCase{u"42", 42}, IntCase{u"007", 7}, IntCase{u"+5", 5},
        IntCase{u"-1", -1}, IntCase{u"-0", 0}, IntCase{u"   12", 12},
        IntCase{u"2147483647", 2147483647}, IntCase{u"-2147483648", INT32_MIN},
        IntCase{u"000000000000002147483647", 2147483647}, IntCase{u"$1F", 31}, IntCase{u"x1f", 31},
        IntCase{u"X10", 16}, IntCase{u"0x7FFFFFFF", INT32_MAX}, IntCase{u"0XaB", 171},
        // Errors: each message repeats the text exactly as given.
        IntCase{u"", std::nullopt}, IntCase{u" ", std::nullopt}, IntCase{u"12 ", std::nullopt},
        IntCase{u"\t12", std::nullopt}, IntCase{u"\n12", std::nullopt},
        IntCase{u"1 2", std::nullopt}, IntCase{u"12a", std::nullopt}, IntCase{u"-", std::nullopt},
        IntCase{u"+-1", std::nullopt}, IntCase{u"- 1", std::nullopt},
        IntCase{u"2147483648", std::nullopt}, IntCase{u"-2147483649", std::nullopt},
        IntCase{u"99999999999999999999", std::nullopt}, IntCase{u"$", std::nullopt},
        IntCase{u"0x", std::nullopt}, IntCase{u"$80000000", std::nullopt},
        IntCase{u"-$1", std::nullopt}, IntCase{u"1.0", std::nullopt},
        IntCase{u"\u0661", std::nullopt} // Arabic-Indic one is not a decimal digit here
    };
    for (const IntCase& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        if (c.value) {
            EXPECT_EQ(StrToInt(text), *c.value);
            continue;
        }
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.message(), "''" + text + "'' is not a valid integer value");
        }
    }
}

TEST(TrimTest, RemovesEveryCharacterUpToCode32AtTheEndsOnly)
{
    const QString text = QString::fromUtf16(u"\x01\t \r\n a \x1f b !");
    EXPECT_EQ(Trim(text).toString(), QString::fromUtf16(u"a \x1f b !"));
    EXPECT_EQ(Trim(u" \t\r\n").toString(), QString());
    EXPECT_EQ(TrimLeft(u"  x  ").toString(), u"x  ");
    EXPECT_EQ(TrimRight(u"  x  ").toString(), u"  x");
    // A no-break space (160) is not a blank.
    EXPECT_EQ(Trim(u"\u00a0x").size(), 2);
}

} // namespace
