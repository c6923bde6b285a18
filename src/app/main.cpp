#include "app/AppDelegate.h"
#include "platform/Runtime.h"

int main(int argc, char** argv) {
    platform::Runtime runtime(argc, argv);
    AppDelegate delegate;
    runtime.onReopen = [&delegate] { delegate.applicationShouldHandleReopen(); };
    runtime.onTerminate = [&delegate] { delegate.applicationWillTerminate(); };
    runtime.whenLaunched([&delegate] { delegate.applicationDidFinishLaunching(); });
    return runtime.exec();
}
