// A library folder of its own for each test of the retrieval library: the message log on, the
// thread's error collection empty and no schema text loaded yet, as on a fresh thread.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/TempFolder.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"

namespace initiator_test {

namespace ns = PRESCORA_NS;

class InitiatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    ns::platform::component::SetLibraryFolderForTesting(folder_.path());
    ns::objLog().set_FileName(Path("Initiator.log"));
    ns::objLog().set_Options(1);
    ns::objTrace().set_Options(0);
    ns::objErrores().ResetErrorsCollection();
    ns::strEsquemaXML().clear();
  }

  void TearDown() override {
    ns::objLog().set_Options(0);
    ns::objLog().set_FileName("");
    ns::objErrores().ResetErrorsCollection();
    ns::strEsquemaXML().clear();
    ns::platform::component::SetLibraryFolderForTesting("");
  }

  // The dispensing library installed beside this one, as the retrieval needs it.
  void InstallDispensingLibrary() {
    std::filesystem::create_symlink(std::string(PRESCORA_BIN_DIR) + "/libInterface.so",
                                    Path("libInterface.so"));
  }

  std::string Path(const std::string& name) const { return folder_ / name; }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }
  std::string Log() const { return ReadAll(Path("Initiator.log")); }

  static std::vector<int> Numbers(const std::vector<ns::CErrorItem>& items) {
    std::vector<int> numbers;
    for (const auto& item : items) numbers.push_back(item.Number());
    return numbers;
  }

  TempFolder folder_;
};

}  // namespace initiator_test
