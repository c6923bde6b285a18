#include "app/AppDelegate.h"

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {}
void AppDelegate::applicationWillTerminate() {}
bool AppDelegate::applicationShouldHandleReopen() { return true; }
