#include <QApplication>
#include <QStandardPaths>
#include <gtest/gtest.h>

// The core's tests draw pictures and text, so they need a GUI application; the
// offscreen platform keeps them off any display.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Files the application keeps (copied pictures) go to a test folder, not the user's.
    QStandardPaths::setTestModeEnabled(true);
    return RUN_ALL_TESTS();
}
