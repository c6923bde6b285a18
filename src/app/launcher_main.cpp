// The `tovrin` command. A desktop's key binding runs `tovrin --ptt-down` and its kin on every
// press and release, so those are answered here, by a small program that loads none of the
// application's libraries: one line to the running program, and exit. Anything else becomes the
// application itself (same process, same arguments).
#include "platform/ControlClient.h"
#include "platform/ControlLine.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    if (argc >= 2)
        if (const auto command = platform::ControlLine::fromOption(argv[1]))
            return platform::ControlClient::run(*command);

    const std::string self = platform::Paths::bundleExecutable();
    const std::string app = self.substr(0, self.rfind('/') + 1) + platform::Paths::applicationExecutableName;
    execv(app.c_str(), argv);
    std::fprintf(stderr, "Tovrin: cannot start %s: %s\n", app.c_str(), std::strerror(errno));
    return 127;
}
