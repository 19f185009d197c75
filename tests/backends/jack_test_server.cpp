#include "jack_test_server.h"

#include "jack/jack_midi_backend.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <jack/jack.h>
#include <random>
#include <sched.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace strata::testing {
namespace {

pid_t spawn(const std::vector<std::string>& args, const std::string& outputPath) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for `pid` to end, at most `timeout`. Returns its wait status, or -1 if it is still there.
int waitFor(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return 0;
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The daemon's whole configuration: real-time scheduling where the system grants it directly
// (a desktop's PipeWire gets it through rtkit), the native protocol with access for every local
// client, the nodes JACK clients create, links between their ports, the metadata PipeWire's
// libjack reads its settings from, and a dummy driver at a fixed rate and period. Nothing that
// wants D-Bus or sound hardware.
std::string pipeWireConfiguration(const std::string& socketName, int rate, int period) {
    const std::string r = std::to_string(rate), q = std::to_string(period);
    return "context.properties = {\n    core.daemon = true\n    core.name = \"" + socketName +
           "\"\n    support.dbus = false\n    default.clock.rate = " + r +
           "\n    default.clock.allowed-rates = [ " + r + " ]\n    default.clock.quantum = " + q +
           "\n    default.clock.min-quantum = " + q + "\n    default.clock.max-quantum = " + q +
           "\n}\n" + R"(context.spa-libs = { support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-rt flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-access }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
]
)";
}

} // namespace

JackTestServer::Kind JackTestServer::loadedLibraryKind() {
    return JackMidiBackend::libraryIsPipeWire() ? Kind::pipewire : Kind::jackd;
}

JackTestServer::JackTestServer(Mode mode, int periodFrames)
    : kind_(loadedLibraryKind()), mode_(mode), periodFrames_(periodFrames) {
    if (const char* realTime = std::getenv("STRATA_JACK_REALTIME"))
        realTime_ = kind_ == Kind::jackd && std::string_view(realTime) == "1";
    static std::atomic<int> counter{0};
    std::random_device random;
    name_ = "strata-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
            std::to_string(random() % 100000);
    const auto temp = std::filesystem::temp_directory_path();
    logPath_ = (temp / (name_ + ".log")).string();
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    if (kind_ == Kind::pipewire) {
        runtimeDir_ = (temp / (name_ + ".run")).string();
        setenv("PIPEWIRE_RUNTIME_DIR", runtimeDir_.c_str(), 1);
        const std::string quantum =
            std::to_string(periodFrames_) + "/" + std::to_string(kSampleRate);
        setenv("PIPEWIRE_QUANTUM", quantum.c_str(), 1);
    }
}

JackTestServer::~JackTestServer() {
    stop();
    std::error_code ec;
    std::filesystem::remove(logPath_, ec);
    if (!runtimeDir_.empty())
        std::filesystem::remove_all(runtimeDir_, ec);
}

bool JackTestServer::runsInRealTime() const {
    if (pid_ <= 0)
        return false;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", error)) {
        const int policy = sched_getscheduler(std::stoi(task.path().filename().string()));
        if (policy == SCHED_FIFO || policy == SCHED_RR)
            return true;
    }
    return false;
}

int JackTestServer::xrunReports() const {
    std::ifstream log(logPath_);
    int count = 0;
    for (std::string line; std::getline(log, line);)
        if (line.find("XRun") != std::string::npos || line.find("xrun") != std::string::npos)
            ++count;
    return count;
}

void JackTestServer::removeStaleFiles() const {
    std::error_code ec;
    if (kind_ == Kind::pipewire) {
        // A daemon that died hard leaves its socket and lock file behind.
        std::filesystem::remove(std::filesystem::path(runtimeDir_) / name_, ec);
        std::filesystem::remove(std::filesystem::path(runtimeDir_) / (name_ + ".lock"), ec);
        return;
    }
    // A jackd that died hard leaves its socket and semaphores behind, and the next server of the
    // same name refuses to start while they exist.
    const std::string uid = std::to_string(getuid());
    const std::string socketPrefix = "jack_" + name_ + "_";
    const std::string semaphorePrefix = "jack_sem." + uid + "_" + name_ + "_";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(socketPrefix, 0) == 0 || file.rfind(semaphorePrefix, 0) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}

bool JackTestServer::start(std::string* error) {
    // On a busy machine a fresh server (a restarted one especially) now and then refuses its
    // first client, the ready check; another try then comes up.
    for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
        removeStaleFiles();
        if (kind_ == Kind::pipewire ? startPipeWire(error) : startJackd(error))
            return true;
    }
    return pid_ > 0;
}

bool JackTestServer::startPipeWire(std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(runtimeDir_, ec);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all, ec);
    const std::string configPath = runtimeDir_ + "/pipewire.conf";
    {
        std::ofstream config(configPath, std::ios::trunc);
        config << pipeWireConfiguration(name_, kSampleRate, periodFrames_);
        if (!config) {
            if (error)
                *error = "could not write " + configPath;
            return false;
        }
    }
    // The daemon dies with this process, also when a timeout kills it.
    pid_ = spawn({"setpriv", "--pdeathsig", "KILL", "pipewire", "-c", configPath}, logPath_);
    if (pid_ <= 0) {
        if (error)
            *error = "could not start pipewire";
        pid_ = -1;
        return false;
    }
    // Ready when a JACK client gets in (the daemon may still be creating its socket at first).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitFor(pid_, std::chrono::milliseconds(0)) != -1) {
            pid_ = -1;
            break;
        }
        jack_status_t status{};
        jack_client_t* probe = jack_client_open(
            "strata-ready-check", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
            &status, name_.c_str());
        if (probe) {
            jack_client_close(probe);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (error)
        *error = "pipewire " + name_ + " did not come up (see " + logPath_ + ")";
    stop();
    return false;
}

bool JackTestServer::startJackd(std::string* error) {
    // The server dies with this process, also when a timeout kills it: a server left behind
    // runs its cycles for ever and steals time from every later test.
    std::vector<std::string> args = {"setpriv", "--pdeathsig",           "KILL", "jackd", "-n",
                                     name_,     realTime_ ? "-R" : "-r", "-p",   "64"};
    if (mode_ == Mode::synchronous)
        args.insert(args.end(), {"-S", "-t", "2000"});
    args.insert(args.end(),
                {"-d", "dummy", "-r", std::to_string(kSampleRate), "-p",
                 std::to_string(periodFrames_), "-w",
                 std::to_string(periodFrames_ * 1000000LL / kSampleRate), "-C", "0", "-P", "0"});
    pid_ = spawn(args, logPath_);
    if (pid_ <= 0) {
        if (error)
            *error = "could not start jackd";
        pid_ = -1;
        return false;
    }
    const pid_t waiter = spawn({"jack_wait", "-s", name_, "-w", "-t", "10"}, logPath_);
    const int status = waiter > 0 ? waitFor(waiter, std::chrono::seconds(15)) : -1;
    if (status == -1 && waiter > 0) {
        kill(waiter, SIGKILL);
        waitFor(waiter, std::chrono::seconds(5));
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        waitFor(pid_, std::chrono::milliseconds(0)) != -1) {
        if (error)
            *error = "jackd " + name_ + " did not come up (see " + logPath_ + ")";
        stop();
        return false;
    }
    return true;
}

void JackTestServer::freeze() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGSTOP);
    int status = 0;
    while (waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
}

void JackTestServer::thaw() {
    if (pid_ > 0)
        kill(pid_, SIGCONT);
}

void JackTestServer::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    if (waitFor(pid_, std::chrono::seconds(5)) == -1) {
        kill(pid_, SIGKILL);
        waitFor(pid_, std::chrono::seconds(5));
    }
    pid_ = -1;
    removeStaleFiles();
}

} // namespace strata::testing
