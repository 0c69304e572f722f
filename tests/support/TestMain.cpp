#include <QApplication>
#include <gtest/gtest.h>

// Every test runs with a real QApplication on the offscreen platform, so the
// window tests drive real widgets without a display.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
