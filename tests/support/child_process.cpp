#include "tests/support/child_process.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string folder_of_running_program() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
#else
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  path[length > 0 ? length : 0] = '\0';
#endif
  std::string text = path;
  const std::size_t slash = text.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

} // namespace

std::string program_beside_tests(const std::string &name) {
#ifdef _WIN32
  return folder_of_running_program() + "\\" + name + ".exe";
#else
  return folder_of_running_program() + "/" + name;
#endif
}

std::string temporary_path(const std::string &stem) {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string base = folder;
  const unsigned long process = GetCurrentProcessId();
#else
  const char *tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp != nullptr ? tmp : "/tmp") + "/";
  const auto process = static_cast<unsigned long>(getpid());
#endif
  std::ostringstream path;
  path << base << "ring2osc-" << stem << "-" << process << "-" << now << "-" << counter++;
  return path.str();
}

std::string read_file(const std::string &path) {
  std::ifstream input(path, std::ios::binary);
  std::ostringstream text;
  text << input.rdbuf();
  return text.str();
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream output(path, std::ios::binary);
  output << text;
}

#ifdef _WIN32

void set_environment(const std::string &name, const std::string &value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void unset_environment(const std::string &name) { SetEnvironmentVariableA(name.c_str(), nullptr); }

namespace {

HANDLE open_for_child(const std::string &path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments,
                         const std::string &output_file, const std::string &error_file) {
  std::string command = "\"" + program + "\"";
  for (const std::string &argument : arguments) {
    command += " \"" + argument + "\"";
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open_for_child("NUL", false);
  startup.hStdOutput =
      output_file.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : open_for_child(output_file, true);
  startup.hStdError =
      error_file.empty() ? GetStdHandle(STD_ERROR_HANDLE) : open_for_child(error_file, true);
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(startup.hStdInput);
  if (!output_file.empty()) {
    CloseHandle(startup.hStdOutput);
  }
  if (!error_file.empty()) {
    CloseHandle(startup.hStdError);
  }
  if (!created) {
    return false;
  }
  CloseHandle(info.hThread);
  process = info.hProcess;
  return true;
}

bool ChildProcess::running() {
  return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

unsigned long ChildProcess::id() const { return process != nullptr ? GetProcessId(process) : 0; }

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
  setenv(name.c_str(), value.c_str(), 1);
}

void unset_environment(const std::string &name) { unsetenv(name.c_str()); }

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments,
                         const std::string &output_file, const std::string &error_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!output_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!error_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
  if (status != 0) {
    pid = -1;
  }
  return status == 0;
}

bool ChildProcess::running() {
  int status = 0;
  if (pid <= 0) {
    return false;
  }
  if (waitpid(pid, &status, WNOHANG) == 0) {
    return true;
  }
  pid = -1;
  return false;
}

unsigned long ChildProcess::id() const { return pid > 0 ? static_cast<unsigned long>(pid) : 0; }

void ChildProcess::kill() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
  }
}

#endif

ChildProcess::~ChildProcess() { kill(); }
