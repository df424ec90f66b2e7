#include "window_set.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// GUI tests run on the offscreen platform unless a display is chosen.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    PrepareApplication();
    return RUN_ALL_TESTS();
}
