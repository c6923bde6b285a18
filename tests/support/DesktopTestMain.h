// main() for integration tests that need the headless desktop: starts it before Qt, exports its
// environment, then runs the tests in a QApplication on that display.
#pragma once

#include "support/HeadlessDesktop.h"

namespace test {

// The desktop of the running test program (valid inside tests run by runDesktopTests).
HeadlessDesktop& desktop();

int runDesktopTests(int argc, char** argv, HeadlessDesktop::Options options);

}  // namespace test
