#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "common/CError.h"
#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/clock.h"
#include "common/platform/errors.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS;
using platform::Failure;

namespace {

// The five values of an item, for comparing items at once.
std::string ValuesOf(const CErrorItem& item) {
  return std::to_string(item.Number()) + "|" + item.Description() + "|" + item.HelpContext() + "|" +
         item.HelpFile() + "|" + item.Source();
}

TEST(CError, AddsInCallOrderResetsAndCopies) {
  CError errors;
  errors.AddError(Failure(13, "CConfig.LoadIni", "No coinciden los tipos"));
  errors.AddError(Failure(32009, "CExecutor.X", OwnDescription(32009)));
  errors.AddError(Failure(53, "CInterface.Y", OwnDescription(53)));
  ASSERT_EQ(errors.Errores().size(), 3u);
  EXPECT_EQ(ValuesOf(errors.Errores()[0]), "13|No coinciden los tipos|0||CConfig.LoadIni");
  EXPECT_EQ(errors.Errores()[1].Number(), 32009);
  EXPECT_EQ(errors.Errores()[2].Number(), 53);

  CErrorItem blankHelp = errors.Errores()[2];
  blankHelp.set_HelpContext("");
  blankHelp.set_HelpFile("ayuda.chm");
  CError copy;
  copy.AddError2(blankHelp);
  copy.ResetErrorsCollection();
  EXPECT_TRUE(copy.Errores().empty());
  copy.AddError2(errors.Errores()[0]);
  copy.AddError2(blankHelp);
  ASSERT_EQ(copy.Errores().size(), 2u);
  EXPECT_EQ(ValuesOf(copy.Errores()[0]), ValuesOf(errors.Errores()[0]));
  EXPECT_EQ(ValuesOf(copy.Errores()[1]),
            "53|No se ha encontrado el archivo executor.exe||ayuda.chm|CInterface.Y");

  blankHelp.Clear();
  EXPECT_EQ(ValuesOf(blankHelp), "0||||");
}

TEST(OwnErrors, DescriptionsAreTheSystemsOwnTexts) {
  // Typos included: these texts reach the pharmacy application as they are.
  EXPECT_EQ(OwnDescription(32005),
            "La interfaz Prescora no está activa. Posiblemente no se han cargado los daos del "
            "archivo de inicialización correctamente");
  EXPECT_EQ(OwnDescription(32006), "No se encuentra el identificador de la preescripción");
  EXPECT_EQ(OwnDescription(32015), "No se puede leer el contenido XML para la calse CArgument");
  EXPECT_EQ(OwnDescription(32019), "El identificador de la prescripción no es válido");
  try {
    Raise(errInvalidDate, "CPeticionDispensacion.ParseDate");
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number(), 32004);
    EXPECT_EQ(failure.Source(), "CPeticionDispensacion.ParseDate");
    EXPECT_EQ(failure.Description(), "La fecha no es válida");
  }
  // Runtime errors carry the runtime's text and the library as source.
  try {
    platform::RaiseRuntime(11);
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Description(), "División por cero");
    EXPECT_EQ(failure.Source(), kLibraryTitle);
  }
  EXPECT_EQ(platform::RuntimeErrorFromErrno(ENOENT), 53);
  EXPECT_EQ(platform::RuntimeErrorFromErrno(EACCES), 70);
  EXPECT_EQ(platform::RuntimeErrorFromErrno(ENOTDIR), 76);
  EXPECT_EQ(platform::RuntimeErrorFromErrno(EXDEV), 75);
}

TEST(ToFailure, EveryKindOfThrowBecomesAFailure) {
  auto of = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return ToFailure(std::current_exception());
    }
    return ToFailure(nullptr);
  };
  Failure own = of([] { Raise(32010, "CExecutor.ConectarServicio"); });
  EXPECT_EQ(own.Number(), 32010);
  EXPECT_EQ(own.Source(), "CExecutor.ConectarServicio");

  // A failure raised by another module's copy of the code keeps its number.
  Failure foreign = of([] { throw prescora::RaisedError(438, "Other", "texto"); });
  EXPECT_EQ(foreign.Number(), 438);
  EXPECT_EQ(foreign.Source(), "Other");
  EXPECT_EQ(foreign.Description(), "texto");

  EXPECT_EQ(of([] { throw std::bad_alloc(); }).Number(), 7);
  EXPECT_EQ(of([] { throw std::bad_alloc(); }).Description(), "Memoria insuficiente");
  Failure other = of([] { throw std::logic_error("algo raro"); });
  EXPECT_EQ(other.Number(), 5);
  EXPECT_EQ(other.Description(), "algo raro");
  EXPECT_EQ(of([] { throw 42; }).Number(), 5);
  EXPECT_EQ(ToFailure(nullptr).Number(), 5);
}

class TrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::clock::SetNowForTesting(
        [] { return platform::clock::LocalTime{2026, 12, 7, 10, 0, 0}; });
    WriteAll(log_, "");  // existing file: no banner in the way
    objLog().set_FileName(log_);
    objLog().set_Options(1);
    objErrores().ResetErrorsCollection();
  }
  void TearDown() override {
    objLog().set_Options(0);
    objLog().set_FileName("");
    objErrores().ResetErrorsCollection();
    platform::clock::SetNowForTesting({});
  }
  TempFolder dir_;
  std::string log_ = dir_ / "Interface.log";
};

TEST_F(TrapTest, RecordsAndLogsTheFailureOnce) {
  int after = 0;
  bool ok = Trap("CConfig.LoadInternalResponse", [&] {
    Raise(errInvalidIniField, "CConfig.LoadInternalResponse");
    ++after;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(after, 0);
  ASSERT_EQ(objErrores().Errores().size(), 1u);
  EXPECT_EQ(objErrores().Errores()[0].Number(), 32011);
  EXPECT_EQ(ReadAll(log_),
            "2026/12/07 10:00:00 CConfig.LoadInternalResponse:(32011)El nombre del campo a buscar "
            "en el archivo .ini para generar la respuesta por defecto no es válido\r\n");
  EXPECT_TRUE(Trap("A.B", [] {}));
  EXPECT_EQ(objErrores().Errores().size(), 1u);
}

TEST_F(TrapTest, OptionsPrefixSkipStoreAndAdjust) {
  TrapOptions prefixed;
  prefixed.logPrefix = "ITP123 ";
  Trap(
      "CExecutor.SolicitudDispensacion", [] { platform::RaiseRuntime(13); }, prefixed);
  TrapOptions unstored;
  unstored.store = false;
  Trap(
      "CInterface.WaitResponse", [] { throw std::runtime_error("x"); }, unstored);
  TrapOptions adjusted;
  adjusted.adjust = [](Failure& failure) {
    failure = Failure(32001, "CInterface.Class_Initialize", OwnDescription(32001));
  };
  Trap(
      "CInterface.Class_Initialize", [] { platform::RaiseRuntime(6); }, adjusted);

  ASSERT_EQ(objErrores().Errores().size(), 2u);
  EXPECT_EQ(objErrores().Errores()[0].Number(), 13);
  EXPECT_EQ(objErrores().Errores()[1].Number(), 32001);
  EXPECT_EQ(ReadAll(log_),
            "2026/12/07 10:00:00 ITP123 CExecutor.SolicitudDispensacion:(13)No coinciden los "
            "tipos\r\n"
            "2026/12/07 10:00:00 CInterface.WaitResponse:(5)x\r\n"
            "2026/12/07 10:00:00 CInterface.Class_Initialize:(32001)No se puede leer la "
            "información del archivo de inicialización (.ini)\r\n");
}

}  // namespace
