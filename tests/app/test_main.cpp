#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // A GUI application: the window tests open real Qt Quick windows, always offscreen (also when
    // the build lists the tests, where no environment is set up).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
