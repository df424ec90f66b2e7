// The text buffer of a table while it is built: an announced length sizes
// it only up to a first block, and it grows as the text arrives, up to the
// announced length and not past it.

#include "text_rows.h"

#include <gtest/gtest.h>

namespace {

TEST(TextRowsTest, AnAnnouncedLengthReservesAFirstBlockAndGrowsNoFurtherThanIt)
{
    constexpr qsizetype Slack = 64; // characters the buffer may keep beyond the text
    constexpr qsizetype Block = TextRows::MostReservedChars;
    const qsizetype announced = 3 * Block + 5;
    TextRows rows(1);
    rows.reserveText(announced);
    EXPECT_LE(rows.memoryBytes(), (Block + Slack) * qsizetype(sizeof(char16_t)));

    // Two pieces of the text, each more than the room left; doubling would
    // take the buffer past the announced length.
    for (int piece = 0; piece < 2; ++piece) {
        const qsizetype chars = announced / 2 + 1;
        ASSERT_TRUE(rows.makeRoom(chars));
        rows.took(chars);
    }
    EXPECT_LE(rows.memoryBytes(), (announced + Slack) * qsizetype(sizeof(char16_t)));
}

} // namespace
