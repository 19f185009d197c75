#include "app_process.h"

#include "model/setlist_codec.h"
#include "model/store.h"
#include "qt_settings.h"
#include "support/test_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace strata::testing {

namespace fs = std::filesystem;

void AppFixtureFiles::writeSettings(const std::map<std::string, bool>& flags,
                                    const std::map<std::string, std::string>& texts,
                                    const std::optional<AdvanceTrigger>& nextTrigger) const {
    fs::create_directories(settingsFile().parent_path());
    QtSettings settings(QString::fromStdString(settingsFile().string()));
    for (const auto& [key, value] : flags)
        settings.setBool(key, value);
    for (const auto& [key, value] : texts)
        settings.setString(key, value);
    if (nextTrigger) {
        const auto json = encodeAdvanceTrigger(*nextTrigger);
        settings.setBytes("strataAdvanceTrigger", Bytes(json->begin(), json->end()));
    }
    settings.sync();
}

void AppFixtureFiles::writeSet(const Setlist& set) const {
    fs::create_directories(home());
    Store::write(StoreLocation{dataHome(), home()}, set);
}

AppProcess::~AppProcess() {
    if (pid_ > 0)
        stop(SIGKILL, std::chrono::seconds(5));
}

bool AppProcess::start(const std::string& program, const AppFixtureFiles& files,
                       const std::vector<std::string>& extraEnvironment,
                       const std::vector<std::string>& arguments) {
    outputPath_ = files.root / "strata.out";
    fs::create_directories(files.root / "runtime");
    fs::permissions(files.root / "runtime", fs::perms::owner_all);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_CONFIG_HOME=" + files.configHome().string());
    env.push_back("XDG_DATA_HOME=" + files.dataHome().string());
    env.push_back("XDG_RUNTIME_DIR=" + (files.root / "runtime").string());
    env.push_back("HOME=" + files.home().string());
    for (const auto& e : extraEnvironment)
        env.push_back(e);
    // Later entries win: drop earlier ones of the same name.
    std::vector<char*> envp;
    for (std::size_t i = 0; i < env.size(); ++i) {
        const std::string name = env[i].substr(0, env[i].find('='));
        bool overridden = false;
        for (std::size_t j = i + 1; j < env.size() && !overridden; ++j)
            overridden = env[j].compare(0, name.size() + 1, name + "=") == 0;
        if (!overridden)
            envp.push_back(env[i].data());
    }
    envp.push_back(nullptr);

    std::string path = program;
    std::vector<std::string> args = arguments;
    std::vector<char*> argv{path.data()};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    startedAt_ = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        pid_ = -1;
    return rc == 0;
}

std::string AppProcess::output() const {
    return readFile(outputPath_);
}

bool AppProcess::waitForLine(const std::string& text, std::chrono::milliseconds timeout,
                             std::size_t from) {
    return waitUntil(
        [&] {
            const std::string out = output();
            return from < out.size() && out.find(text, from) != std::string::npos;
        },
        timeout, std::chrono::milliseconds(5));
}

std::optional<int> AppProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return std::nullopt;
    ::kill(pid_, signal);
    int status = 0;
    pid_t r = 0;
    waitUntil(
        [&] {
            r = ::waitpid(pid_, &status, WNOHANG);
            return r == pid_ || (r < 0 && errno != EINTR);
        },
        timeout, std::chrono::milliseconds(5));
    if (r != pid_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return std::nullopt;
    }
    pid_ = -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return std::nullopt;
}

} // namespace strata::testing
