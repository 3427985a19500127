// Runs velotrax-cli as a real program in a working directory, for the tests of its newer
// commands; the scripted emulator (tests/helpers/cli_emulator.c) stands in for the emulator.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/helpers_common/temp_dir.h"

extern char** environ;

namespace velotrax::testing {

struct CliResult {
  int code = -1;
  std::string out, err;
};

class CliHarness {
 public:
  // The working directory gets emulator as mame.exe: the scripted stand-in unless told otherwise.
  explicit CliHarness(const std::string& emulator = std::string(VELOTRAX_HELPER_DIR) +
                                                    "/helper-cli_emulator") {
    std::filesystem::copy_file(emulator, dir_.File("mame.exe"));
    ::chmod(dir_.File("mame.exe").c_str(), 0755);
  }

  // Starts the tool; its standard output and error go to out_path and err_path when given.
  pid_t Start(const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {}, const std::string& out_path = "",
              const std::string& err_path = "") {
    std::vector<std::string> env_lines;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string line = *e;
      if (!env.count(line.substr(0, line.find('=')))) env_lines.push_back(line);
    }
    for (const auto& [key, value] : env) env_lines.push_back(key + "=" + value);
    std::vector<std::string> argv_strings = {VELOTRAX_CLI};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : env_lines) envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string out = out_path.empty() ? scratch_.File("out") : out_path;
    const std::string err = err_path.empty() ? scratch_.File("err") : err_path;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd =
          ::open(err.c_str(), O_WRONLY | O_CREAT | (err_path.empty() ? O_TRUNC : 0), 0644);
      const int null_fd = ::open("/dev/null", O_RDONLY);
      if (out_fd < 0 || err_fd < 0 || null_fd < 0 || ::chdir(dir_.Path().c_str()) != 0) _exit(126);
      // Root may write anywhere; a user who may not write the directory is nobody here.
      if (as_other_user_ && ::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        _exit(126);
      }
      ::dup2(null_fd, 0);
      ::dup2(out_fd, 1);
      ::dup2(err_fd, 2);
      ::execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    return pid;
  }

  CliResult Finish(pid_t pid) {
    using namespace std::chrono_literals;
    CliResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "velotrax-cli did not end";
        return result;
      }
      std::this_thread::sleep_for(10ms);
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (FileIsPresent(scratch_.File("out"))) result.out = ReadBytes(scratch_.File("out"));
    if (FileIsPresent(scratch_.File("err"))) result.err = ReadBytes(scratch_.File("err"));
    return result;
  }

  CliResult Cli(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {},
                const std::string& out_path = "") {
    return Finish(Start(args, env, out_path));
  }

  // The number of emulator starts so far.
  int EmulatorStarts() const {
    if (!FileIsPresent(dir_.File("emulator.log"))) return 0;
    const std::string log = ReadBytes(dir_.File("emulator.log"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

  TempDir dir_;
  TempDir scratch_;
  // Runs the tool as the unprivileged user nobody when the tests run as root.
  bool as_other_user_ = false;
};

}  // namespace velotrax::testing
