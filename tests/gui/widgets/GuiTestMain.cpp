// The widget tests run GoogleTest inside a QApplication on the offscreen
// platform unless the environment asks for another (the screenshots use
// xcb under Xvfb; these tests never need a display).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
