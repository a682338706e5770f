// Both libraries loaded into one host process keep their shared objects apart.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/modGlobal.h"
#include "common/platform/component.h"
#include "support/LibraryCopy.h"
#include "support/SettingsFile.h"
#include "tests/common/TempFolder.h"

namespace {

using Create = prescora::IComponent* (*)(const char*);

const std::string kDiagFolder = std::string(PRESCORA_TEST_DIR) + "/diag";

// An object of one library file, loaded as a host loads it; null when the library has no such
// class.
std::unique_ptr<prescora::IComponent> CreateFrom(const std::string& path, const char* className) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr) << dlerror();
  if (handle == nullptr) return nullptr;
  auto create = reinterpret_cast<Create>(dlsym(handle, "PrescoraCreateObject"));
  EXPECT_NE(create, nullptr);
  if (create == nullptr) return nullptr;
  return std::unique_ptr<prescora::IComponent>(create(className));
}

// The "modGlobal" object of the test copy of one library of the build.
std::unique_ptr<prescora::IComponent> ModGlobalOf(const std::string& library) {
  return CreateFrom(kDiagFolder + "/lib" + library + "Diag.so", "modGlobal");
}

std::string Call(prescora::IComponent& object, const std::string& member,
                 std::vector<std::string> arguments = {}) {
  return object.Invoke(member, arguments);
}

TEST(TwoLibraries, SharedObjectsStayApart) {
  auto interface = ModGlobalOf("Interface");
  auto initiator = ModGlobalOf("Initiator");
  ASSERT_TRUE(interface && initiator);
  EXPECT_EQ(Call(*interface, "LibraryTitle"), "Interface");
  EXPECT_EQ(Call(*initiator, "LibraryTitle"), "Initiator");
  EXPECT_EQ(Call(*initiator, "ErrorCount"), "0");

  TempFolder dir;
  Call(*interface, "SetLogFile", {dir / "Interface.log"});
  Call(*interface, "AddError", {"32005"});
  Call(*interface, "AddError", {"32009"});
  EXPECT_EQ(Call(*interface, "LogFile"), dir / "Interface.log");
  EXPECT_EQ(Call(*interface, "ErrorCount"), "2");
  EXPECT_EQ(Call(*interface, "ErrorNumber", {"2"}), "32009");

  // The other library saw none of it.
  EXPECT_EQ(Call(*initiator, "LogFile"), "");
  EXPECT_EQ(Call(*initiator, "LogOptions"), "0");
  EXPECT_EQ(Call(*initiator, "ErrorCount"), "0");

  // Nor did the copy of the dispensing library's code linked into this program.
  EXPECT_EQ(Interface::objLog().FileName(), "");
  EXPECT_TRUE(Interface::objErrores().Errores().empty());

  // And the other way round.
  Call(*initiator, "SetLogFile", {dir / "Initiator.log"});
  Call(*initiator, "AddError", {"32014"});
  Call(*interface, "Writeln", {"uno"});
  Call(*initiator, "Writeln", {"dos"});
  EXPECT_EQ(Call(*interface, "LogFile"), dir / "Interface.log");
  EXPECT_EQ(Call(*interface, "ErrorCount"), "2");
  EXPECT_EQ(Call(*initiator, "ErrorCount"), "1");
  std::string interfaceLog = ReadAll(dir / "Interface.log");
  std::string initiatorLog = ReadAll(dir / "Initiator.log");
  EXPECT_NE(interfaceLog.find(" uno\r\n"), std::string::npos);
  EXPECT_EQ(interfaceLog.find(" dos\r\n"), std::string::npos);
  EXPECT_NE(initiatorLog.find(" dos\r\n"), std::string::npos);
  EXPECT_NE(initiatorLog.find(" Initiator 1.2\t"), std::string::npos);

  // Each library finds its own folder.
  EXPECT_EQ(Call(*interface, "LibraryFolder"), kDiagFolder);
  EXPECT_EQ(Call(*initiator, "LibraryFolder"), kDiagFolder);

  Call(*interface, "ResetErrors");
  EXPECT_EQ(Call(*interface, "ErrorCount"), "0");
}

// The diagnostic window is not in the libraries that ship: no host can empty their error
// collection or point their log anywhere.
TEST(TwoLibraries, ShippedLibrariesHaveNoDiagnosticWindow) {
  for (const char* library : {"Interface", "Initiator"}) {
    const std::string path = std::string(PRESCORA_BIN_DIR) + "/lib" + library + ".so";
    EXPECT_EQ(CreateFrom(path, "modGlobal"), nullptr) << library;
  }
}

TEST(TwoLibraries, EachThreadOfTheHostHasItsOwnSet) {
  auto interface = ModGlobalOf("Interface");
  ASSERT_TRUE(interface);
  Call(*interface, "ResetErrors");
  Call(*interface, "AddError", {"13"});
  std::string seen;
  std::thread other([&] { seen = Call(*interface, "ErrorCount"); });
  other.join();
  EXPECT_EQ(seen, "0");
  EXPECT_EQ(Call(*interface, "ErrorCount"), "1");
  Call(*interface, "ResetErrors");
}

// A host linking both libraries, run from a library folder of its own: a refused dispensing and a
// retrieval without a card identifier on one thread. Each front object reports its own error
// only, and each library writes its own log.
TEST(TwoLibraries, RealFrontObjectsKeepTheirErrorsAndLogsApart) {
  TempFolder dir;
  for (std::string file : {"libInterface.so", "libInitiator.so"}) CopyIntoFolder(file, dir.path());
  std::filesystem::copy_file(std::string(PRESCORA_TEST_DIR) + "/prescora-host-both",
                             dir / "prescora-host-both");
  WriteSettings(dir / "Interface.ini", {{"Configuracion.Servicio", "http://127.0.0.1:1/wsdl"}});

  std::string output;
  FILE* host = popen((dir / "prescora-host-both").c_str(), "r");
  ASSERT_NE(host, nullptr);
  char buffer[256];
  while (fgets(buffer, sizeof buffer, host) != nullptr) output += buffer;
  EXPECT_EQ(pclose(host), 0);
  EXPECT_EQ(output, "interface 32002\ninitiator 32014\n");

  std::string interfaceLog = ReadAll(dir / "Interface.log");
  std::string initiatorLog = ReadAll(dir / "Initiator.log");
  EXPECT_NE(interfaceLog.find("(32002)"), std::string::npos) << interfaceLog;
  EXPECT_EQ(interfaceLog.find("CInitiator"), std::string::npos) << interfaceLog;
  EXPECT_NE(initiatorLog.find("CInitiator.RecuperarPrescripciones:(32014)"), std::string::npos);
  // Both banners say "Iniciando la clase CInterface"; no dispensing line is in this one.
  EXPECT_EQ(initiatorLog.find("SolicitudDispensacion"), std::string::npos) << initiatorLog;
}

}  // namespace
