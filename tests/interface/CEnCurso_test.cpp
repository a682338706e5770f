#include "interface/CEnCurso.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "RecordsFixture.h"

namespace {

using namespace records_test;
using ns::CEnCurso;

// A state that changes is written over the old one in its own file; a writer stopped between the
// new word and the cut of a longer old one leaves the new word as the first line, and that is
// the state.
TEST_F(RecordsTest, DispensingStateIsRewrittenWhereItStandsAndReadFromItsFirstLine) {
  CEnCurso enCurso("ID-1");
  CEnCurso::Paso paso(enCurso);
  EXPECT_EQ(enCurso.Estado(), "");
  enCurso.set_Estado(CEnCurso::kPreparada);
  const std::string file = Path("EnCurso/ID-1.estado");
  struct stat first {
  }, later{};
  ASSERT_EQ(stat(file.c_str(), &first), 0);
  enCurso.set_Estado(CEnCurso::kLanzada);
  ASSERT_EQ(stat(file.c_str(), &later), 0);
  EXPECT_EQ(later.st_ino, first.st_ino);
  EXPECT_EQ(ReadAll(file), "lanzada\n");
  EXPECT_EQ(enCurso.Estado(), CEnCurso::kLanzada);

  WriteAll(file, "tomada\nda\n");
  EXPECT_EQ(enCurso.Estado(), CEnCurso::kTomada);
  enCurso.set_Estado(CEnCurso::kEntregada);
  EXPECT_EQ(ReadAll(file), "entregada\n");
  enCurso.BorrarEstado();
  EXPECT_EQ(enCurso.Estado(), "");
}

// A host that forks without exec (worker processes) leaves its child none of an identifier's
// locks: once the parent lets them go, the identifier is free while the child lives on.
TEST_F(RecordsTest, AForkedChildOfTheHostKeepsNoneOfTheLocks) {
  auto front = std::make_unique<CEnCurso>("ID-2");
  ASSERT_TRUE(front->TomarFrente());
  int gate[2], running[2];
  ASSERT_EQ(pipe(gate), 0);
  ASSERT_EQ(pipe(running), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(gate[1]);
    (void)!write(running[1], "", 1);
    char c;
    (void)!read(gate[0], &c, 1);  // lives until the test is done
    _exit(0);
  }
  ASSERT_GT(child, 0);
  close(gate[0]);
  close(running[1]);
  char c;
  ASSERT_EQ(read(running[0], &c, 1), 1);
  close(running[0]);
  front.reset();
  CEnCurso again("id-2");
  EXPECT_FALSE(again.FrenteOcupado());
  EXPECT_TRUE(again.TomarFrente());
  close(gate[1]);
  waitpid(child, nullptr, 0);
}

// "Not sent" carries the executor's errors to the front object, each whole on its own line, even
// when a text holds tabs or line ends of its own; any other state carries none.
TEST_F(RecordsTest, NotSentCarriesTheExecutorsErrorsWhole) {
  CEnCurso enCurso("ID-2");
  CEnCurso::Paso paso(enCurso);
  enCurso.set_Estado(CEnCurso::kEnviada);
  ns::CErrorItem refused;
  refused.set_Number(32107);
  refused.set_Source("SoapClient");
  refused.set_Description("No se puede conectar con\thttp://h/s\n32000\tforjado\tfalso");
  ns::CErrorItem connect;
  connect.set_Number(32010);
  connect.set_Source("CExecutor.SolicitudDispensacion");
  connect.set_Description("No se puede conectar con el servicio web");
  enCurso.set_NoEnviada(ns::protocolo::Estado::Enviada, {refused, connect});

  EXPECT_EQ(enCurso.Estado(), CEnCurso::kNoEnviada);
  const std::vector<ns::CErrorItem> read = enCurso.ErroresNoEnviada();
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].Number(), 32107);
  EXPECT_EQ(read[0].Source(), "SoapClient");
  EXPECT_EQ(read[0].Description(), "No se puede conectar con http://h/s 32000 forjado falso");
  EXPECT_EQ(read[1].Number(), 32010);
  EXPECT_EQ(read[1].Source(), "CExecutor.SolicitudDispensacion");
  EXPECT_EQ(read[1].Description(), "No se puede conectar con el servicio web");

  enCurso.set_Estado(CEnCurso::kCerrada);
  EXPECT_EQ(enCurso.Estado(), CEnCurso::kCerrada);
  EXPECT_TRUE(enCurso.ErroresNoEnviada().empty());
}

}  // namespace
