// A library folder for the tests of the front and executor objects. The shared objects of a thread
// (the audit trail among them) keep the folder they were first used with, so the process keeps
// one folder and each test starts from an empty one.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/events.h"
#include "interface/CPeticionDispensacion.h"
#include "support/SettingsFile.h"

namespace dispensing_test {

namespace ns = PRESCORA_NS;
namespace fs = std::filesystem;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The record form of an answer, as the executor writes it.
inline std::string ResponseXml(int avisos, const std::vector<std::string>& codigosAviso,
                               const std::vector<std::string>& textosAviso, int motivos = 0,
                               const std::vector<std::string>& codigosMotivo = {},
                               const std::vector<std::string>& textosMotivo = {}) {
  auto array = [](const char* name, const std::vector<std::string>& items) {
    std::string out = std::string("<") + name + " xsi:type=\"SOAP-ENC:Array\">";
    for (const auto& item : items) out += "<SOAP-ENC:string>" + item + "</SOAP-ENC:string>";
    return out + "</" + name + ">";
  };
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<RespuestaPeticion xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
         "<NMotivosRechazo>" +
         std::to_string(motivos) + "</NMotivosRechazo><NAvisos>" + std::to_string(avisos) +
         "</NAvisos>" + array("textoAviso", textosAviso) +
         array("textoMotivosRechazo", textosMotivo) + array("codigoMotivosRechazo", codigosMotivo) +
         array("codigoAviso", codigosAviso) + "</RespuestaPeticion>";
}

// A request with every mandatory field set.
inline ns::CPeticionDispensacion FullRequest(const std::string& id) {
  ns::CPeticionDispensacion p;
  p.set_IDPrescripcion(id);
  p.set_IdFarmacia("F1");
  p.set_IdProvincia("48");
  p.set_IdUsuario("U");
  p.set_ClaveUsuario("clave");
  p.set_IdFarmaceutico("PH");
  p.set_Importe("10.50");
  p.set_ImporteAportacion("1.20");
  p.set_FechaDispensacion("07/12/2026");
  p.set_Idioma("es");
  p.set_EnvasesDispensados("1");
  p.set_TIS("T9");
  return p;
}

class DispensingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/prescora-dispensing-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(root_)) fs::remove_all(entry.path());
    ns::platform::component::SetLibraryFolderForTesting(root_);
    ns::objErrores().ResetErrorsCollection();
    WriteSettings(Path("Interface.ini"), {{"Asincrono.PeticionTimeOut", "2"}});
  }

  void TearDown() override {
    ns::platform::events::SetMessageLoopHook({});
    ns::platform::clock::SetTickSourceForTesting({});
    ns::platform::clock::SetNowForTesting({});
    ns::objLog().set_Options(0);
    ns::objTrace().set_Options(0);
    ns::objErrores().ResetErrorsCollection();
    ns::platform::component::SetLibraryFolderForTesting("");
  }

  static std::string Path(const std::string& name) { return root_ + "/" + name; }
  static bool Exists(const std::string& name) { return fs::exists(Path(name)); }
  std::string Log() const { return ReadFile(Path("Interface.log")); }
  std::string Audit() const { return ReadFile(Path("Auditoria/audit.log")); }

  // A launcher that does nothing: the answer, when there is one, is dropped by the test.
  void WriteIdleExecutor() {
    WriteFile(Path("executor.exe"), "#!/bin/sh\nexit 0\n");
    ::chmod(Path("executor.exe").c_str(), 0755);
  }

  // The tick counter moves on by `step` milliseconds on every pass of a wait; `onPass` runs
  // after the move, with the milliseconds elapsed since the wait began.
  template <class OnPass>
  void FakeClock(uint32_t start, uint32_t step, OnPass onPass) {
    tick_ = start;
    start_ = start;
    passes_ = 0;
    ns::platform::clock::SetTickSourceForTesting([this] { return tick_; });
    ns::platform::events::SetMessageLoopHook([this, step, onPass] {
      ++passes_;
      tick_ += step;
      onPass(tick_ - start_);
    });
  }
  void FakeClock(uint32_t step = 1000) {
    FakeClock(100000, step, [](uint32_t) {});
  }

  std::vector<int> Numbers(const std::vector<ns::CErrorItem>& items) const {
    std::vector<int> numbers;
    for (const auto& item : items) numbers.push_back(item.Number());
    return numbers;
  }

  static inline std::string root_;
  uint32_t tick_ = 0;
  uint32_t start_ = 0;
  int passes_ = 0;
};

}  // namespace dispensing_test
