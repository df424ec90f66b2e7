// The text buffer of a table while it is built: a fresh buffer takes the
// announced length at once, so the text that arrives is never copied into a
// larger buffer; text beyond an announcement that was not kept still finds
// room.

#include "text_rows.h"

#include <gtest/gtest.h>

namespace {

constexpr qsizetype Slack = 64; // characters the buffer may keep beyond the text

TEST(TextRowsTest, AnAnnouncedLengthIsTakenAtOnceAndTheTextNeverMoves)
{
    const qsizetype announced = 3 * TextRows::MostReservedChars + 5;
    TextRows rows(1);
    rows.reserveText(announced);
    EXPECT_GE(rows.memoryBytes(), announced * qsizetype(sizeof(char16_t)));
    EXPECT_LE(rows.memoryBytes(), (announced + Slack) * qsizetype(sizeof(char16_t)));

    // The whole announced text in three pieces, each written where the room
    // was given: the buffer never moves.
    const char16_t* const start = rows.room();
    qsizetype taken = 0;
    for (const qsizetype piece : {announced / 3, announced / 3, announced - 2 * (announced / 3)}) {
        ASSERT_TRUE(rows.makeRoom(piece));
        EXPECT_EQ(rows.room(), start + taken);
        rows.took(piece);
        taken += piece;
    }
    EXPECT_LE(rows.memoryBytes(), (announced + Slack) * qsizetype(sizeof(char16_t)));
}

TEST(TextRowsTest, TextBeyondTheAnnouncedLengthStillFindsRoomAndKeepsWhatCameBefore)
{
    TextRows rows(1);
    rows.reserveText(4);
    const std::u16string text = u"abcdefghij";
    for (const char16_t c : text) {
        ASSERT_TRUE(rows.makeRoom(1));
        *rows.room() = c;
        rows.took(1);
    }
    EXPECT_EQ(rows.pending(), QStringView(text));
}

} // namespace
