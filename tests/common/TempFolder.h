// A fresh folder under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/prescora-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteAll(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// Runs `body` in `count` child processes (each gets its index), released together once all
// exist, and waits for them all. True when every child exited with status 0.
template <class Body>
bool RunInChildren(int count, Body&& body) {
  int gate[2];
  if (pipe(gate) != 0) return false;
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char byte;
      while (read(gate[0], &byte, 1) > 0) {
      }
      int status = 1;
      try {
        status = body(i) ? 0 : 1;
      } catch (...) {
      }
      _exit(status);
    }
    if (pid < 0) break;
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);  // opens the gate
  bool ok = static_cast<int>(children.size()) == count;
  for (pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ok = false;
  }
  return ok;
}
