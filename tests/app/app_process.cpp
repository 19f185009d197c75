#include "app_process.h"

#include "model/setlist_codec.h"
#include "model/store.h"
#include "qt_settings.h"
#include "support/test_support.h"

#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
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

    // Later entries win over earlier ones of the same name.
    std::map<std::string, std::string> byName;
    const auto set = [&](const std::string& entry) {
        byName[entry.substr(0, entry.find('='))] = entry;
    };
    for (char** e = environ; *e; ++e)
        set(*e);
    for (const std::string& e :
         {std::string("QT_QPA_PLATFORM=offscreen"),
          "XDG_CONFIG_HOME=" + files.configHome().string(),
          "XDG_DATA_HOME=" + files.dataHome().string(),
          "XDG_RUNTIME_DIR=" + (files.root / "runtime").string(), "HOME=" + files.home().string()})
        set(e);
    for (const auto& e : extraEnvironment)
        set(e);
    std::vector<char*> envp;
    for (auto& [name, entry] : byName)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
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
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
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
    const bool ended = waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout,
                                 std::chrono::milliseconds(5));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return ended && WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

} // namespace strata::testing
