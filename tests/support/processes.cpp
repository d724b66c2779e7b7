#include "tests/support/processes.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

std::string program_beside(const std::string &name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

std::string temporary_path(const std::string &stem) {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string name =
      "ring2osc-" + stem + "-" + std::to_string(now) + "-" + std::to_string(counter++);
  return (std::filesystem::temp_directory_path() / name).string();
}

std::string read_file(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

bool udp_port_bound(unsigned port) {
  for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::istringstream lines(read_file(table));
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line)) {
      // "  0: 0100007F:1B80 00000000:0000 07 ...": the local address's port, in hex.
      std::istringstream words(line);
      std::string slot, local;
      words >> slot >> local;
      const std::size_t colon = local.rfind(':');
      if (colon != std::string::npos && std::stoul(local.substr(colon + 1), nullptr, 16) == port) {
        return true;
      }
    }
  }
  return false;
}

bool wait_for_udp_port(unsigned port, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!udp_port_bound(port)) {
    if (std::chrono::steady_clock::now() > until) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

long process_status(unsigned long pid, const std::string &field) {
  std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

void set_environment(const std::string &name, const std::string &value) {
  value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
}

bool ChildProcess::start(const std::vector<std::string> &command, const Redirects &files) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string in = files.in.empty() ? "/dev/null" : files.in;
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  if (!files.out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, files.out.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  std::vector<char *> argv;
  for (const std::string &word : command) {
    argv.push_back(const_cast<char *>(word.c_str()));
  }
  argv.push_back(nullptr);
  const bool spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  pid = spawned ? pid : -1;
  return spawned;
}

unsigned long ChildProcess::id() const { return pid > 0 ? static_cast<unsigned long>(pid) : 0; }

double ChildProcess::cpu_seconds() const {
  // User and system time, fields 14 and 15 of /proc/PID/stat, in clock ticks.
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream after_name(stat.substr(stat.rfind(')') + 1));
  const std::vector<std::string> field{std::istream_iterator<std::string>(after_name), {}};
  return (std::stod(field.at(11)) + std::stod(field.at(12))) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

int ChildProcess::wait_exit(int signal, std::chrono::milliseconds timeout) {
  if (pid > 0 && signal != 0) {
    ::kill(pid, signal);
  }
  const auto give_up = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (pid > 0 && std::chrono::steady_clock::now() < give_up) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void ChildProcess::kill() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
}
