// One application object for every test; widgets need it, and the offscreen
// platform lets the tests run without a display.
#include "WineEnvironment.h"
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    kobito::test::RestoreQtEnvironment();
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
