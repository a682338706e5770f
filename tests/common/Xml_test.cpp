#include "common/platform/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace Interface::platform::xml;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "prescora-xml-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// Every load of a test runs under a captured stderr: the layer must never print.
bool QuietLoad(Document& doc, std::string_view text) {
  testing::internal::CaptureStderr();
  bool ok = doc.Loadxml(text);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  return ok;
}

const char* kAnswer =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/' "
    "xmlns:SOAP-ENC='http://schemas.xmlsoap.org/soap/encoding/'>\n"
    "  <SOAP-ENV:Body>\n"
    "    <codigoAviso xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
    "xsi:type='SOAP-ENC:Array' SOAP-ENC:arrayType='xsd:string[2]'>\n"
    "      <SOAP-ENC:string>A1</SOAP-ENC:string>\n"
    "      <SOAP-ENC:string>  </SOAP-ENC:string>\n"
    "    </codigoAviso>\n"
    "    <texto>uno <b>dos</b> tres</texto>\n"
    "  </SOAP-ENV:Body>\n"
    "</SOAP-ENV:Envelope>\n";

}  // namespace

TEST(XmlLoad, AcceptsOnlyWellFormedAndNamespaceWellFormedText) {
  Document doc;
  EXPECT_TRUE(QuietLoad(doc, "<a><b>1</b></a>"));
  EXPECT_EQ(doc.parseError(), "");

  EXPECT_FALSE(QuietLoad(doc, "<a><b>1</a>"));
  EXPECT_NE(doc.parseError(), "");
  EXPECT_FALSE(doc.documentElement()) << "a failed load leaves an empty document";

  EXPECT_FALSE(QuietLoad(doc, ""));
  EXPECT_FALSE(QuietLoad(doc, "   "));
  EXPECT_FALSE(QuietLoad(doc, "<a/><b/>"));
  EXPECT_FALSE(QuietLoad(doc, std::string("<a>\0</a>", 8)));

  // The rendering of a record whose schema text lacks a declaration must fail, as callers rely on.
  EXPECT_FALSE(QuietLoad(doc, "<r><x xsi:type='SOAP-ENC:Array'/></r>"));
  EXPECT_NE(doc.parseError(), "");
  EXPECT_FALSE(QuietLoad(doc, "<xsi:r/>"));
  EXPECT_TRUE(QuietLoad(doc,
                        "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                        "xmlns:SOAP-ENC='http://schemas.xmlsoap.org/soap/encoding/'>"
                        "<x xsi:type='SOAP-ENC:Array'/></r>"));
  // A later success clears the reason of the earlier failure.
  EXPECT_EQ(doc.parseError(), "");
}

TEST(XmlLoad, TextInMemoryIsUtf8WhateverTheDeclarationSays) {
  Document doc;
  ASSERT_TRUE(QuietLoad(doc, "<?xml version='1.0' encoding='ISO-8859-1'?><a>Añadir €</a>"));
  EXPECT_EQ(doc.documentElement().Text(), "Añadir €");
  EXPECT_FALSE(QuietLoad(doc, "<a>\xff\xfe</a>")) << "invalid UTF-8 is not a document";
}

TEST(XmlLoad, BytesAndFilesHonourTheDeclaredEncoding) {
  TempDir dir;
  WriteFile(dir / "latin1.xml", "<?xml version='1.0' encoding='ISO-8859-1'?><a>A\xf1o</a>");
  Document doc;
  ASSERT_TRUE(doc.Load(dir / "latin1.xml")) << doc.parseError();
  EXPECT_EQ(doc.documentElement().Text(), "Año");
  ASSERT_TRUE(doc.LoadBytes("<a>\xc3\xb1</a>"));
  EXPECT_EQ(doc.documentElement().Text(), "ñ");

  EXPECT_FALSE(doc.Load(dir / "missing.xml"));
  EXPECT_NE(doc.parseError(), "");
  EXPECT_FALSE(doc.Load(dir.path().string())) << "a folder is not a document";
}

TEST(XmlMembers, NamesTextAndNavigation) {
  Document doc;
  ASSERT_TRUE(QuietLoad(doc, kAnswer));
  Node root = doc.documentElement();
  EXPECT_EQ(root.nodeType(), NodeType::Element);
  EXPECT_EQ(root.nodeName(), "SOAP-ENV:Envelope");
  EXPECT_EQ(root.baseName(), "Envelope");
  EXPECT_EQ(root.namespaceURI(), "http://schemas.xmlsoap.org/soap/envelope/");

  NodeList body = root.childNodes().Item(0).childNodes();
  ASSERT_EQ(body.length(), 2);
  Node array = body.Item(0);
  EXPECT_EQ(array.nodeName(), "codigoAviso");
  EXPECT_EQ(array.baseName(), "codigoAviso");
  EXPECT_EQ(array.namespaceURI(), "");
  EXPECT_FALSE(body.Item(2));
  EXPECT_FALSE(body.Item(-1));

  NodeList items = array.childNodes();
  ASSERT_EQ(items.length(), 2);
  EXPECT_EQ(items.Item(0).nodeName(), "SOAP-ENC:string");
  EXPECT_EQ(items.Item(0).baseName(), "string");
  EXPECT_EQ(items.Item(0).Text(), "A1");
  EXPECT_EQ(items.Item(0).nodeTypedValue(), "A1");
  // Spacing alone is no content, inside an element as between elements.
  EXPECT_EQ(items.Item(1).Text(), "");
  EXPECT_EQ(items.Item(1).childNodes().length(), 0);
  EXPECT_EQ(items.Item(0).childNodes().Item(0).nodeName(), "#text");
  EXPECT_EQ(items.Item(0).childNodes().Item(0).nodeType(), NodeType::Text);

  // Mixed content keeps its text; Text concatenates the descendants.
  Node texto = body.Item(1);
  EXPECT_EQ(texto.Text(), "uno dos tres");
  EXPECT_EQ(texto.childNodes().length(), 3);

  // Attributes: the namespace declaration first, then the attributes in document order.
  NodeList attributes = array.Attributes();
  ASSERT_EQ(attributes.length(), 3);
  EXPECT_EQ(attributes.Item(0).nodeName(), "xmlns:xsi");
  EXPECT_EQ(attributes.Item(0).baseName(), "xsi");
  EXPECT_EQ(attributes.Item(0).Text(), "http://www.w3.org/2001/XMLSchema-instance");
  EXPECT_EQ(attributes.Item(1).nodeName(), "xsi:type");
  EXPECT_EQ(attributes.Item(1).baseName(), "type");
  EXPECT_EQ(attributes.Item(1).nodeType(), NodeType::Attribute);
  EXPECT_EQ(attributes.Item(1).Text(), "SOAP-ENC:Array");
  EXPECT_EQ(attributes.Item(2).nodeName(), "SOAP-ENC:arrayType");
  EXPECT_EQ(attributes.Item(2).Text(), "xsd:string[2]");
  EXPECT_EQ(array.GetAttribute("SOAP-ENC:arrayType"), "xsd:string[2]");
  EXPECT_EQ(array.GetAttribute("arrayType"), "");
  EXPECT_FALSE(attributes.Item(1).parentNode());
  EXPECT_EQ(items.Item(0).Attributes().length(), 0);

  EXPECT_EQ(items.Item(0).parentNode().nodeName(), "codigoAviso");
  EXPECT_EQ(root.parentNode().nodeType(), NodeType::Document);
  EXPECT_EQ(items.Item(0).ownerDocument().documentElement().nodeName(), "SOAP-ENV:Envelope");

  EXPECT_EQ(doc.childNodes().length(), 1);
  EXPECT_EQ(items.Item(0).xml(), "<SOAP-ENC:string>A1</SOAP-ENC:string>");
  EXPECT_EQ(attributes.Item(1).xml(), "xsi:type=\"SOAP-ENC:Array\"");

  Node none;
  EXPECT_EQ(none.nodeType(), NodeType::None);
  EXPECT_EQ(none.nodeName(), "");
  EXPECT_EQ(none.Text(), "");
  EXPECT_EQ(none.childNodes().length(), 0);
}

TEST(XmlMembers, IndentationBetweenElementsIsDropped) {
  Document doc;
  ASSERT_TRUE(QuietLoad(doc,
                        "<PeticionDispensacion >\r\n <importe >12</importe>\r\n\t"
                        "<codFarmacia > 7 </codFarmacia>\r\n<!-- c -->\n</PeticionDispensacion>"));
  NodeList children = doc.documentElement().childNodes();
  ASSERT_EQ(children.length(), 3);
  EXPECT_EQ(children.Item(0).nodeName(), "importe");
  EXPECT_EQ(children.Item(1).Text(), " 7 ");
  EXPECT_EQ(children.Item(2).nodeType(), NodeType::Comment);

  // An empty list keeps no text child that a reader could take for an entry.
  ASSERT_TRUE(QuietLoad(doc, "<r><prescripciones>\n  </prescripciones></r>"));
  EXPECT_EQ(doc.documentElement().childNodes().Item(0).childNodes().length(), 0);

  // xml:space='preserve' keeps the spacing it asks for.
  ASSERT_TRUE(QuietLoad(doc, "<a xml:space='preserve'> <b/> </a>"));
  EXPECT_EQ(doc.documentElement().childNodes().length(), 3);
}

TEST(XmlLifetime, NodesOutliveTheirDocumentAndLaterLoads) {
  NodeList kept;
  Node root;
  {
    Document doc;
    ASSERT_TRUE(QuietLoad(doc, "<r><a>1</a><b>2</b></r>"));
    kept = doc.documentElement().childNodes();
    root = doc.documentElement();
    // Loading other text into the same document must not free what was handed out.
    ASSERT_TRUE(QuietLoad(doc, "<other/>"));
    EXPECT_EQ(doc.documentElement().nodeName(), "other");
    ASSERT_FALSE(QuietLoad(doc, "<broken"));
  }
  ASSERT_EQ(kept.length(), 2);
  EXPECT_EQ(kept.Item(1).Text(), "2");
  EXPECT_EQ(kept.Item(0).ownerDocument().documentElement().nodeName(), "r");
  EXPECT_EQ(root.xml(), "<r><a>1</a><b>2</b></r>");
}

TEST(XmlSave, WritesUtf8WithDeclarationAndReplacesAtomically) {
  TempDir dir;
  const std::string path = dir / "R1.xml";
  WriteFile(path, "old content");
  Document doc;
  ASSERT_TRUE(QuietLoad(doc,
                        "<RespuestaPeticion ><NAvisos >1</NAvisos><t>año &amp; &lt;x&gt;</t>"
                        "</RespuestaPeticion>"));
  ASSERT_TRUE(doc.Save(path));
  EXPECT_EQ(doc.saveErrno(), 0);
  const std::string saved = ReadAll(path);
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("año"), std::string::npos);

  // The owner's alone, whatever the umask lets others have.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Nothing but the file itself is left in the folder.
  int entries = 0;
  for (auto& e : fs::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  Document back;
  ASSERT_TRUE(back.Load(path));
  NodeList children = back.documentElement().childNodes();
  ASSERT_EQ(children.length(), 2) << "the saved indentation reads back as nothing";
  EXPECT_EQ(children.Item(1).Text(), "año & <x>");

  // A read-only file is replaced too (the folder decides, as with a rename).
  ::chmod(path.c_str(), 0444);
  EXPECT_TRUE(doc.Save(path));

  EXPECT_FALSE(doc.Save(dir / "no-such-folder/R2.xml"));
  EXPECT_EQ(doc.saveErrno(), ENOENT);
  EXPECT_FALSE(Document().Save(dir / "empty.xml")) << "an empty document has nothing to write";
  EXPECT_FALSE(fs::exists(dir / "empty.xml"));
}

TEST(XmlEscape, EscapedValuesReachTheOtherSideUnchanged) {
  const std::string value = "a<b & c>\"d\" 'e'";
  EXPECT_EQ(EscapeText("a<b & c>"), "a&lt;b &amp; c&gt;");
  EXPECT_EQ(EscapeAttribute("\"'"), "&quot;&apos;");
  Document doc;
  ASSERT_TRUE(
      QuietLoad(doc, "<r v=\"" + EscapeAttribute(value) + "\">" + EscapeText(value) + "</r>"));
  EXPECT_EQ(doc.documentElement().Text(), value);
  EXPECT_EQ(doc.documentElement().GetAttribute("v"), value);

  // Line breaks and tabs too, through a saved file as well: CR LF must not come back as LF.
  TempDir dir;
  for (const std::string& text : {std::string("línea 1\r\nlínea 2"), std::string("a\rb\tc\r\n")}) {
    ASSERT_TRUE(
        QuietLoad(doc, "<r v=\"" + EscapeAttribute(text) + "\">" + EscapeText(text) + "</r>"));
    EXPECT_EQ(doc.documentElement().Text(), text);
    EXPECT_EQ(doc.documentElement().GetAttribute("v"), text);
    ASSERT_TRUE(doc.Save(dir / "r.xml"));
    Document back;
    ASSERT_TRUE(back.Load(dir / "r.xml"));
    EXPECT_EQ(back.documentElement().Text(), text);
    EXPECT_EQ(back.documentElement().GetAttribute("v"), text);
  }
}

TEST(XmlHostile, EntitiesAndDtdsAreRefused) {
  TempDir dir;
  const std::string secret = dir / "secret.txt";
  WriteFile(secret, "TOP-SECRET-CONTENT");
  const std::string dtd = dir / "ext.dtd";
  WriteFile(dtd, "<!ENTITY leak SYSTEM 'file://" + secret + "'>");

  const std::string documents[] = {
      // External general entity pointing at a local file.
      "<!DOCTYPE r [<!ENTITY x SYSTEM 'file://" + secret + "'>]><r>&x;</r>",
      // External parameter entity.
      "<!DOCTYPE r [<!ENTITY % p SYSTEM 'file://" + dtd + "'> %p;]><r>&leak;</r>",
      // External subset.
      "<!DOCTYPE r SYSTEM 'file://" + dtd + "'><r>&leak;</r>",
      // A network DTD.
      "<!DOCTYPE r SYSTEM 'http://127.0.0.1:9/x.dtd'><r/>",
  };
  for (const std::string& text : documents) {
    Document doc;
    bool ok = QuietLoad(doc, text);
    EXPECT_FALSE(ok) << text;
    EXPECT_EQ(doc.xml().find("TOP-SECRET"), std::string::npos);
    EXPECT_EQ(doc.parseError().find("TOP-SECRET"), std::string::npos);
  }
  // The same through a file.
  WriteFile(dir / "attack.xml", documents[0]);
  Document doc;
  EXPECT_FALSE(doc.Load(dir / "attack.xml"));
}

TEST(XmlHostile, BillionLaughsIsRefusedBeforeExpanding) {
  std::string text = "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol0 'lol'>";
  for (int i = 1; i <= 12; ++i)
    text += "<!ENTITY lol" + std::to_string(i) + " '" + [&] {
      std::string s;
      for (int k = 0; k < 10; ++k) s += "&lol" + std::to_string(i - 1) + ";";
      return s;
    }() + "'>";
  text += "]><lolz>&lol12;</lolz>";
  Document doc;
  EXPECT_FALSE(QuietLoad(doc, text));
  EXPECT_NE(doc.parseError(), "");
}

TEST(XmlHostile, DeepNestingFailsWithoutCrashing) {
  const int depth = 100000;
  std::string text;
  text.reserve(depth * 7);
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  Document doc;
  EXPECT_FALSE(QuietLoad(doc, text));

  // A reasonable depth still loads and can be walked and rendered.
  text.clear();
  for (int i = 0; i < 200; ++i) text += "<a>";
  text += "x";
  for (int i = 0; i < 200; ++i) text += "</a>";
  ASSERT_TRUE(QuietLoad(doc, text));
  EXPECT_EQ(doc.documentElement().Text(), "x");
  EXPECT_EQ(doc.documentElement().xml(), text);
}

namespace {

namespace xml = Interface::platform::xml;

// The text the first element of the body stands for, or why it cannot be followed.
std::string StandsFor(const std::string& body,
                      std::size_t budget = xml::References::kDefaultBudget) {
  xml::Document doc;
  EXPECT_TRUE(
      doc.Loadxml("<E:Envelope xmlns:E='http://schemas.xmlsoap.org/soap/envelope/'>"
                  "<E:Header><h id='dup'/></E:Header><E:Body>" +
                  body + "</E:Body></E:Envelope>"))
      << body;
  xml::Node first = doc.documentElement().childNodes().Item(1).childNodes().Item(0);
  xml::References references(budget);
  xml::Followed followed = references.Follow(first);
  if (!followed) return "!" + std::to_string(static_cast<int>(followed.problem));
  return followed.node.Text();
}

std::string Chain(int links) {
  std::string body = "<v href='#r0'/>";
  for (int i = 0; i < links; ++i)
    body += "<x id='r" + std::to_string(i) + "' href='#r" + std::to_string(i + 1) + "'/>";
  return body + "<s id='r" + std::to_string(links) + "'>fin</s>";
}

}  // namespace

TEST(XmlReferences, AnElementStandsForTheOneItsHrefNamesOrSaysWhyNot) {
  using P = xml::ReferenceProblem;
  auto problem = [](P p) { return "!" + std::to_string(static_cast<int>(p)); };
  struct Case {
    std::string body;
    std::string expected;
  } const cases[] = {
      {"<v>propio</v>", "propio"},
      // Whatever the target's name, place and id form.
      {"<v href='#_8'/><id id='_8'>20261130</id>", "20261130"},
      {"<v href='#id0'/><multiRef id='id0'><a>1</a><b>2</b></multiRef>", "12"},
      {"<v href='#ID_1'/><w><xsd:string xmlns:xsd='urn:x' id='ID_1'>anidado</xsd:string></w>",
       "anidado"},
      {"<v HREF='#a'/><s ID='a'>mayúsculas</s>", "mayúsculas"},
      {"<v href='#A'/><s id='a'>sin distinguir</s>", "sin distinguir"},
      {"<v href='#a'/><s id='a'>exacto</s><s id='A'>otro</s>", "exacto"},
      {Chain(63), "fin"},        // 64 references in a row
      {"<v href='#dup'/>", ""},  // the header's element: targets are found anywhere
      {"<v href='#nada'/><s id='algo'>x</s>", problem(P::Missing)},
      {"<v href='#a'/><s id='a'>1</s><s id='A'>2</s><s id='a'>3</s>", problem(P::Duplicate)},
      {"<v href='#B'/><s id='b'>1</s><s id='b'>2</s>", problem(P::Missing)},
      {"<v href='#a'/><x id='a' href='#b'/><x id='b' href='#a'/>", problem(P::Cycle)},
      {"<v href='#a'/><x id='a' href='#a'/>", problem(P::Cycle)},
      {Chain(64), problem(P::TooDeep)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 120));
    EXPECT_EQ(StandsFor(c.body), c.expected);
  }
}

// What references bring in together is bounded, however many there are: a value sent once and
// named 10,000 times cannot make an answer cost gigabytes.
TEST(XmlReferences, TheTextReferencesBringInIsBounded) {
  xml::Document doc;
  std::string body = "<s id='big'>" + std::string(64 * 1024, 'x') + "</s>";
  for (int i = 0; i < 10000; ++i) body += "<v href='#big'/>";
  ASSERT_TRUE(doc.Loadxml("<b>" + body + "</b>"));
  xml::NodeList nodes = doc.documentElement().childNodes();
  xml::References references;
  long followed = 0;
  for (long i = 1; i < nodes.length(); ++i) {
    xml::Followed f = references.Follow(nodes.Item(i));
    if (!f) {
      EXPECT_EQ(f.problem, xml::ReferenceProblem::TooMuchText);
      EXPECT_NE(xml::DescribeProblem(f).find("más texto"), std::string::npos);
      break;
    }
    ++followed;
  }
  EXPECT_EQ(followed, static_cast<long>(xml::References::kDefaultBudget / (64 * 1024)));
  // A budget of its own; an element without a reference costs nothing.
  xml::References small(3);
  EXPECT_EQ(StandsFor("<v href='#a'/><s id='a'>abc</s>", 3), "abc");
  EXPECT_EQ(StandsFor("<v href='#a'/><s id='a'>abcd</s>", 3),
            "!" + std::to_string(static_cast<int>(xml::ReferenceProblem::TooMuchText)));
  EXPECT_TRUE(small.Follow(nodes.Item(0)));
}
