#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The core's tests draw pictures and text, so they need a GUI application; the
// offscreen platform keeps them off any display.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Files the application keeps (copied pictures) go to a folder of this run, not the
    // user's, and not one that tests running in parallel share.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
