#include "initiator/CArgument.h"

#include <gtest/gtest.h>

#include <string>

#include "InitiatorFixture.h"
#include "common/platform/clock.h"
#include "common/platform/xml.h"

namespace {

using namespace initiator_test;
using ns::CArgument;
using ArgumentTest = InitiatorTest;

TEST_F(ArgumentTest, RendersTheRequestElementByteForByteWithTheDateOfCreation) {
  ns::platform::clock::SetNowForTesting([] { return ns::platform::clock::LocalTime{2026, 3, 7}; });
  CArgument argument;
  ns::platform::clock::SetNowForTesting({});
  EXPECT_EQ(argument.Fecha(), "2026/03/07");
  EXPECT_FALSE(argument.RequiredFields());
  argument.set_Usuario("FARM01");
  argument.set_Password("clave01");
  argument.set_Idioma(-3);
  argument.set_TIS("BBBB000001");
  argument.set_TitularTarjeta("Ana Pérez");  // never sent
  EXPECT_TRUE(argument.RequiredFields());

  const std::string children =
      "<usuario >FARM01</usuario>\r\n<passwd >clave01</passwd>\r\n<idioma >-3</idioma>\r\n"
      "<TIS >BBBB000001</TIS>\r\n<fecha >20260307</fecha>\r\n"
      "</p70PeticionConsultaPNDPorTIS>\r\n";
  // Before any connection on the thread: no declarations in the opening tag.
  EXPECT_EQ(argument.ToString(), "<p70PeticionConsultaPNDPorTIS >" + children);
  ns::strEsquemaXML() = "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" ";
  EXPECT_EQ(
      argument.ToString(),
      "<p70PeticionConsultaPNDPorTIS xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" >" + children);

  ns::platform::xml::NodeList nodes;
  EXPECT_FALSE(argument.FromXML(nodes));
  EXPECT_EQ(argument.TIS(), "BBBB000001");
}

TEST_F(ArgumentTest, MarkupInAValueReachesTheServiceAsTheValue) {
  CArgument argument;
  argument.set_Usuario("a&b<c>");
  argument.set_Password("x</passwd><TIS>OTRO</TIS>\r\n");
  argument.set_TIS("BBBB000001");
  auto nodes = argument.ToXML();
  ASSERT_TRUE(nodes.has_value()) << Log();
  ASSERT_EQ(nodes->length(), 5);
  EXPECT_EQ(nodes->Item(0).Text(), "a&b<c>");
  EXPECT_EQ(nodes->Item(1).Text(), "x</passwd><TIS>OTRO</TIS>\r\n");
  EXPECT_EQ(nodes->Item(3).Text(), "BBBB000001");
  EXPECT_TRUE(ns::objErrores().Errores().empty());
}

}  // namespace
