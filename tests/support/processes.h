// Real programs in processes of their own, for the C++ benchmarks and tests
// (Linux): starting and ending them from outside, the only way the bridge
// ever ends, what they use, temporary paths and port probes. Python's
// counterpart is tests/harness.py.
#pragma once

#include <chrono>
#include <string>
#include <vector>

// The path of a program built into the same folder as the running one.
std::string program_beside(const std::string &name);
// A fresh path in the temporary folder.
std::string temporary_path(const std::string &stem);
std::string read_file(const std::string &path);
// Whether some program has a UDP socket bound to `port`, read from the
// kernel's tables: a probe that bound the port itself would race the program.
bool udp_port_bound(unsigned port);
// Waits up to `timeout` for that.
bool wait_for_udp_port(unsigned port, std::chrono::milliseconds timeout);
// A number field of /proc/PID/status such as "VmRSS" (kilobytes), or -1.
long process_status(unsigned long pid, const std::string &field);
// An empty value unsets the variable.
void set_environment(const std::string &name, const std::string &value);

// Files for the child's standard input and for its output and errors
// together; empty: input from the null device, output inherited.
struct Redirects {
  std::string in, out;
};

class ChildProcess {
public:
  ChildProcess() = default;
  ~ChildProcess() { kill(); }
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // The program is the command's first word.
  bool start(const std::vector<std::string> &command, const Redirects &files = {});
  void kill();
  // Waits up to `timeout` for the process to end, after sending `signal`
  // unless it is 0: its exit status, or -1 when it did not exit normally.
  int wait_exit(int signal, std::chrono::milliseconds timeout);
  // The operating system's process id, or 0 when none is running.
  unsigned long id() const;
  // Processor time used so far, user and system together.
  double cpu_seconds() const;

private:
  int pid = -1;
};
