#include "interface/CEnCurso.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

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

}  // namespace
