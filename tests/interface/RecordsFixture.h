// A library folder of its own for each test of the dispensing records, with the message log
// switched on and the thread's error collection emptied.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/TempFolder.h"
#include "common/modGlobal.h"
#include "common/platform/component.h"

namespace records_test {

namespace ns = PRESCORA_NS;

// The declarations the sample settings file carries, as LoadIni stores them (one space added).
inline const std::string kStandardSchema =
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" ";

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
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
  }

  std::string Path(const std::string& name) const { return folder_ / name; }
  std::string Log() const { return ReadAll(Path("messages.log")); }

  std::vector<int> ErrorNumbers() const {
    std::vector<int> numbers;
    for (const auto& item : ns::objErrores().Errores()) numbers.push_back(item.Number());
    return numbers;
  }

  TempFolder folder_;
  const std::string root_ = folder_.path();
};

}  // namespace records_test
