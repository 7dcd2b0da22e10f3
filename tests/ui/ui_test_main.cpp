// The dialogs need a toolkit application: the offscreen platform, so that no
// display is needed and no window shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Message boxes go to the box log, never to a dialog that waits for a click.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
