// The desktop tests run on the offscreen platform unless a screen is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "host/platform/Locale.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // As the program does: the analyst's locale from the environment, and
    // the toolkit sets the C library's locale from it too.
    host::platform::InitLocaleFromEnvironment();
    QApplication app(argc, argv);
    host::platform::UseEnvironmentLocale();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
