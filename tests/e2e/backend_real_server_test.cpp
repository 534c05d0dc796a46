// The real audio backend (cubeb) as driver setup uses it, run in a child program so that its
// standard error and exit status can be read: against a private PulseAudio daemon with null
// sinks of different formats, and with no sound server at all.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ChildResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when the child did not exit normally
};

// Runs `path` with the current environment changed by `overrides` and collects both streams.
ChildResult run_child(const std::string& path,
                      const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            variables[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : overrides)
        variables[k] = v;
    std::vector<std::string> entries;
    for (const auto& [k, v] : variables)
        entries.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    EXPECT_EQ(pipe(out_pipe), 0);
    EXPECT_EQ(pipe(err_pipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    ChildResult result;
    if (spawned != 0) {
        ADD_FAILURE() << "posix_spawn " << path << ": " << spawned;
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_streams = 2;
    while (open_streams > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_streams;
            }
        }
    }
    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    return result;
}

const std::string kProbe = QUORLE_BACKEND_PROBE;

// Error names a cubeb failure may carry.
bool is_error_name(const std::string& name) {
    return name == "Error" || name == "InvalidFormat" || name == "InvalidParameter" ||
           name == "NotSupported" || name == "DeviceUnavailable";
}

// The daemon is the fixture's (tests/fixtures/with-pulseaudio) with three null sinks:
// q48 (48 kHz stereo, "Quorle48k"), q44 (44.1 kHz stereo, "Quorle44k"), q16 (16 kHz mono,
// the module's own description). The test makes the middle one the default on both sides.
TEST(RealServer, ListsMonitorsThenSinksWithTheirFormatsAndTheDefaultFlag) {
    ASSERT_NE(std::getenv("QUORLE_PULSE_DIR"), nullptr) << "run under with-pulseaudio";
    ASSERT_EQ(std::system("pactl set-default-sink q44 && pactl set-default-source q44.monitor"), 0);

    const std::string expected =
        "endpoint\tcapture\tq48.monitor\tMonitor of Quorle48k\t48000\t2\t0\n"
        "endpoint\tcapture\tq44.monitor\tMonitor of Quorle44k\t44100\t2\t1\n"
        "endpoint\tcapture\tq16.monitor\tMonitor of Null Output\t16000\t1\t0\n"
        "endpoint\trender\tq48\tQuorle48k\t48000\t2\t0\n"
        "endpoint\trender\tq44\tQuorle44k\t44100\t2\t1\n"
        "endpoint\trender\tq16\tNull Output\t16000\t1\t0\n";
    // Several runs: each ends the process with the control thread still running.
    for (int run = 0; run < 3; ++run) {
        const ChildResult child = run_child(kProbe, {});
        EXPECT_EQ(child.out, expected);
        EXPECT_EQ(child.err, "QUORLE_AUDIO backend=pulse binding=0.38.0\n");
        EXPECT_EQ(child.status, 0);
    }
}

// No daemon: the socket named by PULSE_SERVER does not exist, autospawn is off, the runtime
// folder is empty. cubeb then opens another backend or none; either way the failure is one
// of the two exact messages, and only an opened context writes the backend line.
TEST(NoServer, FailsWithTheContextOrEnumerateMessage) {
    char pattern[] = "/tmp/quorle-nopulse.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::create_directories(dir / "home");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    std::ofstream(dir / "client.conf") << "autospawn = no\n";

    const ChildResult child =
        run_child(kProbe, {{"PULSE_SERVER", "unix:" + (dir / "runtime" / "dead").string()},
                           {"PULSE_CLIENTCONFIG", (dir / "client.conf").string()},
                           {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
                           {"HOME", (dir / "home").string()},
                           {"JACK_NO_START_SERVER", "1"}});
    std::filesystem::remove_all(dir);

    const std::string line_prefix = "QUORLE_AUDIO backend=";
    const std::string line_suffix = " binding=0.38.0\n";
    const bool sound_devices = std::filesystem::exists("/dev/snd");
    if (child.err.empty()) {
        // No backend at all.
        ASSERT_EQ(child.status, 2);
        const std::string prefix = "error\tcubeb context: ";
        ASSERT_EQ(child.out.rfind(prefix, 0), 0u) << child.out;
        ASSERT_EQ(child.out.back(), '\n');
        EXPECT_TRUE(
            is_error_name(child.out.substr(prefix.size(), child.out.size() - prefix.size() - 1)))
            << child.out;
        return;
    }
    // Another backend opened: exactly one backend line, not naming pulse.
    ASSERT_EQ(child.err.rfind(line_prefix, 0), 0u) << child.err;
    ASSERT_GT(child.err.size(), line_prefix.size() + line_suffix.size());
    ASSERT_EQ(child.err.substr(child.err.size() - line_suffix.size()), line_suffix);
    const std::string backend = child.err.substr(
        line_prefix.size(), child.err.size() - line_prefix.size() - line_suffix.size());
    EXPECT_NE(backend, "pulse");
    EXPECT_EQ(backend.find('\n'), std::string::npos);
    if (child.status == 0 && sound_devices)
        return;  // a real sound card answered the list
    ASSERT_EQ(child.status, 2) << child.out;
    const std::string prefix = "error\tcubeb enumerate: ";
    ASSERT_EQ(child.out.rfind(prefix, 0), 0u) << child.out;
    ASSERT_EQ(child.out.back(), '\n');
    EXPECT_TRUE(
        is_error_name(child.out.substr(prefix.size(), child.out.size() - prefix.size() - 1)))
        << child.out;
    std::cout << "without a sound server: backend " << backend << ", " << child.out.substr(6);
}

}  // namespace
