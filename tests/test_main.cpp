#include <QCoreApplication>

#include <gtest/gtest.h>

// The data-layer tests need Qt's core event loop and nothing else.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
