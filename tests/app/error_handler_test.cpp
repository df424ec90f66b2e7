#include "error_handler.h"
#include "errors.h"
#include "message_boxes.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using namespace Qt::StringLiterals;

TEST(ErrorHandlerTest, AddsAFullStopAfterCharactersAboveIt)
{
    const struct
    {
        QString message;
        QString shown;
    } cases[] = {
        {u"Connect timed out."_s, u"Connect timed out."_s},
        {u"HTTP/1.1 302 Found"_s, u"HTTP/1.1 302 Found."_s},
        {u"''x'' is not a valid integer value"_s, u"''x'' is not a valid integer value."_s},
        {u"ends in a dash -"_s, u"ends in a dash -"_s}, // "-" lies below "."
        {u"ends in a slash /"_s, u"ends in a slash /."_s},
        {QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message.toStdString();
}

TEST(ErrorHandlerTest, GuardedReportsEveryFailureAndClosesTheProgressWindow)
{
    QStringList boxes;
    int closes = 0;
    MessageBoxes::SetHook([&](MessageBoxes::Kind kind, const QString& text) {
        EXPECT_EQ(kind, MessageBoxes::Kind::Error);
        boxes << text;
        return MessageBoxes::Answer::Ok;
    });
    SetProgressWindowCloser([&] { ++closes; });

    GuardedNow([] { throw ConversionError(u"'''' is not a valid integer value"_s); });
    GuardedNow([] { throw std::runtime_error("plain failure"); });
    GuardedNow([] {});

    EXPECT_EQ(boxes, (QStringList{u"'''' is not a valid integer value."_s, u"plain failure."_s}));
    EXPECT_EQ(closes, 2);
    MessageBoxes::SetHook({});
    SetProgressWindowCloser({});
}

} // namespace
