// Where things live. "Application Support" is $XDG_DATA_HOME (~/.local/share), "Library/Logs" is
// $XDG_STATE_HOME (~/.local/state), settings go under $XDG_CONFIG_HOME (~/.config). The bundle is
// the install tree <prefix>/lib/tovrin (bin/, resources/); the build tree mirrors it.
#pragma once

#include <string>

namespace platform::Paths {

std::string home();
std::string applicationSupport();
std::string logs();
std::string config();
// The bundle's root: the folder above the running executable's bin/ folder.
std::string bundle();
std::string resources();  // bundle() + "/resources"
std::string bundleExecutable();

// Points bundle() elsewhere (tests run from their own folders); "" restores the default.
void setBundleOverride(const std::string& path);

// Creates the folder and its parents; true when it exists afterwards.
bool makeDirectories(const std::string& path);

}  // namespace platform::Paths
