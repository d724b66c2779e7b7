// Starts a real program for process-level tests and ends it from outside,
// the only way the bridge ever ends.
#pragma once

#include <string>
#include <vector>

// The path of a program built into the same folder as the running test.
std::string program_beside_tests(const std::string &name);
// A fresh path in the temporary folder.
std::string temporary_path(const std::string &stem);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

void set_environment(const std::string &name, const std::string &value);
void unset_environment(const std::string &name);

class ChildProcess {
public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // Runs `program` with `arguments`, its standard output and error going to
  // the files named (empty: inherited) and its standard input empty.
  bool start(const std::string &program, const std::vector<std::string> &arguments,
             const std::string &output_file, const std::string &error_file);
  bool running();
  void kill();
  // The operating system's process id, or 0 when none is running.
  unsigned long id() const;

private:
#ifdef _WIN32
  void *process = nullptr;
#else
  int pid = -1;
#endif
};
