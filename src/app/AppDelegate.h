// The application's delegate: sets everything up at launch, owns the controller and the key
// monitor, keeps the tray menu in step with the dictation state.
#pragma once

class AppDelegate {
public:
    AppDelegate();
    ~AppDelegate();

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldHandleReopen();
};
