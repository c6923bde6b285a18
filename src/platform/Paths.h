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
// The program as the user starts it (what a desktop entry or a key binding runs): the `tovrin`
// command beside the running executable, else the running executable itself.
std::string launcher();
// The application's executable, which the `tovrin` command becomes, in the same folder.
inline constexpr const char* applicationExecutableName = "tovrin-app";

// Points bundle() elsewhere (tests run from their own folders); "" restores the default.
void setBundleOverride(const std::string& path);

// Creates the folder and its parents; true when it exists afterwards.
bool makeDirectories(const std::string& path);

// Private files. What holds the user's words, settings or logs is readable by the user alone:
// files 0600, folders 0700. Tightening only ever takes group and other access away; it never
// adds a permission (a file the user made read-only stays read-only).

// Creates the folder (and any missing parents) with mode 0700; a folder that exists already is
// tightened, and so is every file directly inside it. True when the folder exists afterwards.
bool makePrivateFolder(const std::string& path);
// Takes group and other access away from the file or folder, when it exists.
void tighten(const std::string& path);
// Gives the file the permissions of `like` without group and other access (SQLite's journal
// files follow their database's mode this way), when both exist.
void matchMode(const std::string& path, const std::string& like);
// Creates the file with mode 0600 when it is absent (emptying it when `truncate`); a file that
// exists already is tightened. True when the file could be opened for writing.
bool createPrivateFile(const std::string& path, bool truncate);
// Replaces the file's content at once and durably: a temporary file (0600) beside it is written
// and synced, then renamed over it, and the folder synced. When a step fails the old content
// stays and the result is false.
bool writePrivateFile(const std::string& path, const std::string& content);
// A private folder (0700, ours, not a link) on another file system than the user's data, for
// what cannot be written there (a full disk): $XDG_RUNTIME_DIR/Tovrin, else Tovrin-<uid> in the
// temporary folder. "" when neither can be made (when `create` is false: when neither exists).
std::string spareFolder(bool create = true);
// Moves the file (or folder) to `path + suffix`, or to `path + suffix + "." + n` for the first
// free n from 2; a file of one of those names is never replaced. The new path, or "" when
// nothing was moved.
std::string setAside(const std::string& path, const std::string& suffix);

}  // namespace platform::Paths
