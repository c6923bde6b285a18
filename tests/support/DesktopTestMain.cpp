#include "support/DesktopTestMain.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <memory>

namespace test {

namespace {
HeadlessDesktop* g_desktop = nullptr;
}

HeadlessDesktop& desktop() { return *g_desktop; }

int runDesktopTests(int argc, char** argv, HeadlessDesktop::Options options) {
    ::testing::InitGoogleTest(&argc, argv);
    auto desk = std::make_unique<HeadlessDesktop>(options);
    if (!desk->ok()) {
        std::fprintf(stderr, "headless desktop unavailable: %s\n", desk->error().c_str());
        return 1;
    }
    desk->exportEnvironment();
    g_desktop = desk.get();
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);  // as in the program: closing a window never quits
        ::testing::AddGlobalTestEnvironment(new TestEnvironment);
        status = RUN_ALL_TESTS();
    }
    g_desktop = nullptr;
    return status;
}

}  // namespace test
