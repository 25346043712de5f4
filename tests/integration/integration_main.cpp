#include <QApplication>
#include <gtest/gtest.h>

// The integration tests reach their own X servers through the fixture and the backends,
// never through Qt's platform: Qt runs offscreen, so no DISPLAY is needed. A widget
// application, so that tests of widgets can run here too.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
