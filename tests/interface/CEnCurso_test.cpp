#include "interface/CEnCurso.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
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

}  // namespace
