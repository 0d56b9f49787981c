// Test main for widget tests: one application object (with the program's
// exception display and look) on Qt's offscreen platform.
#include "Application.h"
#include "WineEnvironment.h"

#include <gtest/gtest.h>

#include <QByteArray>

int main(int argc, char** argv) {
    kobito::test::RestoreQtEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
