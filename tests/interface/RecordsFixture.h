// A library folder of its own for each test of the dispensing records, with the message log
// switched on and the thread's error collection emptied.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/modGlobal.h"
#include "common/platform/component.h"

namespace records_test {

namespace ns = PRESCORA_NS;

// The declarations the sample settings file carries, as LoadIni stores them (one space added).
inline const std::string kStandardSchema =
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" ";

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Runs `body(i)` in `count` child processes released at the same moment; true when every child
// returned true.
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
  close(gate[1]);
  bool ok = static_cast<int>(children.size()) == count;
  for (pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ok = false;
  }
  return ok;
}

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/prescora-records-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ns::platform::component::SetLibraryFolderForTesting(root_);
    ns::objLog().set_FileName(Path("messages.log"));
    ns::objLog().set_Options(1);
    ns::objTrace().set_Options(0);
    ns::objErrores().ResetErrorsCollection();
    ns::strEsquemaXML() = kStandardSchema;
  }

  void TearDown() override {
    ns::objLog().set_Options(0);
    ns::objLog().set_FileName("");
    ns::objErrores().ResetErrorsCollection();
    ns::platform::component::SetLibraryFolderForTesting("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  std::string Log() const { return ReadFile(Path("messages.log")); }

  std::vector<int> ErrorNumbers() const {
    std::vector<int> numbers;
    for (const auto& item : ns::objErrores().Errores()) numbers.push_back(item.Number());
    return numbers;
  }

  std::string root_;
};

}  // namespace records_test
