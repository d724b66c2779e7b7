#include "tests/support/child_process.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

std::string program_beside_tests(const std::string &name) {
#ifdef _WIN32
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / (name + ".exe")).string();
#else
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
#endif
}

std::string temporary_path(const std::string &stem) {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string name = "ring2osc-" + stem + "-" + std::to_string(now) + "-" +
                           std::to_string(counter++);
  return (std::filesystem::temp_directory_path() / name).string();
}

std::string read_file(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

#ifdef _WIN32

void set_environment(const std::string &name, const std::string &value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

namespace {

HANDLE open_for_child(const std::string &path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments,
                         const Redirects &files) {
  std::string command = "\"" + program + "\"";
  for (const std::string &argument : arguments) {
    command += " \"" + argument + "\"";
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open_for_child(files.in.empty() ? "NUL" : files.in, false);
  startup.hStdOutput = files.out.empty() ? GetStdHandle(STD_OUTPUT_HANDLE)
                                         : open_for_child(files.out, true);
  startup.hStdError = files.err.empty() ? GetStdHandle(STD_ERROR_HANDLE)
                                        : open_for_child(files.err, true);
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(startup.hStdInput);
  if (!files.out.empty()) {
    CloseHandle(startup.hStdOutput);
  }
  if (!files.err.empty()) {
    CloseHandle(startup.hStdError);
  }
  CloseHandle(info.hThread);
  process = created ? info.hProcess : nullptr;
  return created != FALSE;
}

bool ChildProcess::running() {
  return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

unsigned long ChildProcess::id() const { return process != nullptr ? GetProcessId(process) : 0; }

double ChildProcess::cpu_seconds() const {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(process, &created, &exited, &kernel, &user);
  const auto seconds = [](FILETIME t) { // 100 ns ticks
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

void ChildProcess::kill() {
  if (process != nullptr) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    process = nullptr;
  }
}

#else

void set_environment(const std::string &name, const std::string &value) {
  value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
}

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments,
                         const Redirects &files) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string in = files.in.empty() ? "/dev/null" : files.in;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
  for (const auto &[path, fd] : {std::pair{files.out, STDOUT_FILENO}, {files.err, STDERR_FILENO}}) {
    if (!path.empty()) {
      posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
  }
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) {
    argv.push_back(&word[0]);
  }
  argv.push_back(nullptr);
  const int status = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  pid = status == 0 ? pid : -1;
  return status == 0;
}

bool ChildProcess::running() {
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, WNOHANG) != 0) {
    pid = -1;
  }
  return pid > 0;
}

unsigned long ChildProcess::id() const { return pid > 0 ? static_cast<unsigned long>(pid) : 0; }

double ChildProcess::cpu_seconds() const {
  // Fields 14 and 15 of /proc/PID/stat, counted after the parenthesised name.
  std::istringstream stat(read_file("/proc/" + std::to_string(pid) + "/stat"));
  std::string field;
  std::getline(stat, field, ')');
  for (int skipped = 0; skipped < 11; ++skipped) {
    stat >> field;
  }
  double user = 0, system = 0;
  stat >> user >> system;
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ChildProcess::kill() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
}

#endif

BridgeRun::BridgeRun(const std::string &script, std::map<std::string, std::string> settings_)
    : script_path(temporary_path("script")), log_path(temporary_path("log")),
      out_path(temporary_path("out")), err_path(temporary_path("err")),
      settings(std::move(settings_)) {
  write_file(script_path, script);
  settings.emplace("RINGSIM_EVENTS", script_path);
  settings.emplace("RINGSIM_LOG", log_path);
  settings.emplace("RINGSIM_INTERVAL_US", "200");
  for (const auto &[name, value] : settings) {
    set_environment(name, value);
  }
  const bool from_stdin = settings["RINGSIM_EVENTS"] == "-";
  started = process.start(program_beside_tests("ring2osc"), {},
                          {from_stdin ? script_path : "", out_path, err_path});
}

BridgeRun::~BridgeRun() {
  process.kill();
  for (const std::string &path : {script_path, log_path, out_path, err_path}) {
    std::remove(path.c_str());
  }
  for (const auto &setting : settings) {
    set_environment(setting.first, "");
  }
}
