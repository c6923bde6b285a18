// Exec-to-exit time of the key commands (`tovrin --ptt-down` …): a compositor runs one on every
// press and release of the push-to-talk key, so this time is added to the key's latency.
// A listener on a private socket stands in for the running program (it reads the lines as the
// program does); the lock file in a private data folder points the command at it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    std::vector<double> ms;
    int failures = 0;
};

// Runs the program with `arg` and the given data folder; milliseconds from exec to exit.
double runOnce(const std::string& arg, const std::string& dataHome, int& status,
               std::string program = TOVRIN_PROGRAM) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_DATA_HOME=", 14) != 0) env.emplace_back(*e);
    env.push_back("XDG_DATA_HOME=" + dataHome);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {program.data(), const_cast<char*>(arg.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        status = -1;
        return 0;
    }
    waitpid(pid, &status, 0);
    const auto end = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

void report(const char* what, Figures f) {
    if (f.ms.empty()) return;
    std::sort(f.ms.begin(), f.ms.end());
    auto at = [&](double q) { return f.ms[std::min(f.ms.size() - 1, static_cast<std::size_t>(q * f.ms.size()))]; };
    std::printf("%-34s runs %4zu  min %6.2f  median %6.2f  p95 %6.2f  max %6.2f ms  (wrong exit status: %d)\n", what,
                f.ms.size(), f.ms.front(), at(0.5), at(0.95), f.ms.back(), f.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    char tmpl[] = "/tmp/tovrin-control-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    const std::string dataHome = root + "/data";
    mkdir(dataHome.c_str(), 0700);
    mkdir((dataHome + "/Wendaro").c_str(), 0700);
    const std::string socketPath = root + "/tovrin.sock";
    const std::string lockPath = dataHome + "/Wendaro/instance.lock";

    // What starting any program costs on this machine now, for comparison.
    Figures floor;
    for (int i = 0; i < runs; ++i) {
        int status = 0;
        floor.ms.push_back(runOnce("--ptt-down", dataHome, status, "/bin/true"));
    }

    // Nothing runs yet: the command says so and exits 1.
    Figures none;
    for (int i = 0; i < runs; ++i) {
        int status = 0;
        none.ms.push_back(runOnce("--ptt-down", dataHome, status));
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) ++none.failures;
    }

    // The stand-in for the running program.
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(server, 64) != 0) {
        std::perror("listen");
        return 1;
    }
    FILE* lock = std::fopen(lockPath.c_str(), "w");
    std::fprintf(lock, "%s\n", socketPath.c_str());
    std::fclose(lock);
    std::atomic<int> lines{0};
    std::thread reader([&] {
        for (;;) {
            const int peer = accept(server, nullptr, nullptr);
            if (peer < 0) return;
            char buffer[128];
            ssize_t n;
            while ((n = read(peer, buffer, sizeof buffer)) > 0)
                for (ssize_t i = 0; i < n; ++i)
                    if (buffer[i] == '\n') ++lines;
            close(peer);
        }
    });

    Figures sent;
    for (int i = 0; i < runs; ++i) {
        int status = 0;
        sent.ms.push_back(runOnce(i % 2 ? "--ptt-up" : "--ptt-down", dataHome, status));
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++sent.failures;
    }
    // Every line arrived.
    for (int i = 0; i < 100 && lines.load() < runs; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    std::printf("%s\n", TOVRIN_PROGRAM);
    report("command delivered (exit 0)", sent);
    report("nothing running (exit 1)", none);
    report("/bin/true, for comparison", floor);
    std::printf("lines received: %d of %d\n", lines.load(), runs);

    shutdown(server, SHUT_RDWR);
    close(server);
    reader.join();
    unlink(socketPath.c_str());
    unlink(lockPath.c_str());
    rmdir((dataHome + "/Wendaro").c_str());
    rmdir(dataHome.c_str());
    rmdir(root.c_str());
    return 0;
}
