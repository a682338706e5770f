// XML documents over libxml2, with the members the records and the SOAP client rely on.
//
// A load succeeds only for a well-formed, namespace-well-formed document (an undeclared prefix
// fails). Text nodes of white space only are dropped wherever they stand (indentation, or the
// spacing inside an otherwise empty element), unless xml:space="preserve" asks to keep them.
// Loads never touch the network, never read external entities or DTDs and bound entity
// expansion; a bad document is a false result, never a crash or an exception.
//
// Nodes and node lists hold a share of their document, so they stay valid after the Document
// object that produced them is gone.
//
// None of the system's documents (records, SOAP envelopes, service descriptions) carries a DTD, and
// SOAP forbids one: a document with a document type declaration is refused outright, which keeps
// entity expansion and external entities out of reach. Nesting deeper than the parser's limit
// (256 levels) is refused too.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Export.h"

struct _xmlNode;
struct _xmlDoc;

namespace PRESCORA_NS::platform::xml {

class NodeList;
class Document;

// Owns one libxml2 document; shared by every Node, NodeList and Document that refers to it.
class PRESCORA_API DocumentState {
 public:
  explicit DocumentState(_xmlDoc* doc = nullptr) noexcept : doc_(doc) {}
  ~DocumentState();
  DocumentState(const DocumentState&) = delete;
  DocumentState& operator=(const DocumentState&) = delete;
  _xmlDoc* doc() const noexcept { return doc_; }

 private:
  _xmlDoc* doc_;
};

enum class NodeType {
  None = 0,
  Element = 1,
  Attribute = 2,
  Text = 3,
  CData = 4,
  Comment = 8,
  Document = 9,
  Other = 99
};

class PRESCORA_API Node {
 public:
  Node() = default;
  Node(std::shared_ptr<DocumentState> doc, _xmlNode* node) : doc_(std::move(doc)), node_(node) {}

  explicit operator bool() const noexcept { return node_ != nullptr; }
  NodeType nodeType() const noexcept;
  // Qualified name (prefix included): "SOAP-ENC:string"; "#text" for text nodes.
  std::string nodeName() const;
  // Name without prefix: "string".
  std::string baseName() const;
  // The namespace URI of an element or attribute, "" when none.
  std::string namespaceURI() const;
  // Text content: the concatenated text of the node and its descendants.
  std::string Text() const;
  std::string nodeTypedValue() const { return Text(); }
  // Child nodes in document order (elements, text, ...), for an element or a document node.
  NodeList childNodes() const;
  // The attributes of an element, as nodes of type Attribute (nodeName, baseName, Text). As in the
  // DOM, the namespace declarations of the element come first among them ("xmlns:bean").
  NodeList Attributes() const;
  // The value of the attribute of that qualified name, "" when absent.
  std::string GetAttribute(std::string_view qualifiedName) const;
  Node parentNode() const;
  Document ownerDocument() const;
  // The node and its descendants as XML text.
  std::string xml() const;

  _xmlNode* raw() const noexcept { return node_; }
  const std::shared_ptr<DocumentState>& state() const noexcept { return doc_; }

 private:
  std::shared_ptr<DocumentState> doc_;
  _xmlNode* node_ = nullptr;
};

class PRESCORA_API NodeList {
 public:
  NodeList() = default;
  NodeList(std::shared_ptr<DocumentState> doc, std::vector<_xmlNode*> nodes)
      : doc_(std::move(doc)), nodes_(std::move(nodes)) {}

  long length() const noexcept { return static_cast<long>(nodes_.size()); }
  // The entry at an index counted from 0; an empty Node when out of range.
  Node Item(long index) const;
  std::vector<Node> items() const;
  const std::shared_ptr<DocumentState>& state() const noexcept { return doc_; }

 private:
  std::shared_ptr<DocumentState> doc_;
  std::vector<_xmlNode*> nodes_;
};

class PRESCORA_API Document {
 public:
  Document();  // an empty document
  explicit Document(std::shared_ptr<DocumentState> state) : state_(std::move(state)) {}

  // Parses text held in memory; replaces what the document held. False when it does not parse.
  bool Loadxml(std::string_view text);
  // Reads and parses a file. False when it cannot be read or does not parse.
  bool Load(const std::string& path);
  // Parses bytes as they came from a file or the network: the encoding the document declares is
  // honoured (Loadxml takes its text as UTF-8 whatever the declaration says). A document that
  // declares none is read in `assumedEncoding` when given (an HTTP charset), else as UTF-8.
  bool LoadBytes(std::string_view bytes, const std::string& assumedEncoding = {});
  // Writes the document to a file (UTF-8, with an XML declaration), replacing any file there.
  // False when the file cannot be written. The file is readable and writable by its owner only
  // (spool files and message copies hold the user's key). It is written beside the destination and
  // renamed into place, so a reader sees either the old file or the whole new one. It is not forced
  // to disk: a power cut moments after may lose the new file.
  bool Save(const std::string& path) const;
  // The errno of the last Save that failed, 0 after one that succeeded.
  int saveErrno() const noexcept { return saveErrno_; }

  Node documentElement() const;
  NodeList childNodes() const;
  std::string xml() const;
  // Why the last load failed, for logs: "" after a successful load.
  const std::string& parseError() const noexcept;

  const std::shared_ptr<DocumentState>& state() const noexcept { return state_; }

 private:
  std::shared_ptr<DocumentState> state_;
  std::string parseError_;
  mutable int saveErrno_ = 0;
};

// SOAP 1.1 encoding references of one document: an element carrying href="#x" stands for the
// element of the document whose id attribute is x, whatever its name and place; that element may
// refer on. Attribute names are matched without regard to case and namespace, as answers of the
// older stacks write them; an id is matched exactly, else without regard to case when that names
// one element only.
//
// The index of ids is built once, on the first reference followed, so an answer without
// references costs nothing. A reference that leads nowhere, an id given to two elements, a cycle,
// a chain longer than kMaxReferenceHops, or references that together bring in more text than the
// budget make the reference unreadable: Follow says why instead of guessing a value. The budget
// bounds the time and memory an answer can cost through references, whatever their number.
enum class ReferenceProblem { None, Missing, Duplicate, Cycle, TooDeep, TooMuchText };

struct Followed {
  Node node;  // the element the node stands for (the node itself when it refers nowhere)
  ReferenceProblem problem = ReferenceProblem::None;
  std::string href;  // the reference that could not be followed
  explicit operator bool() const noexcept { return problem == ReferenceProblem::None; }
};

class PRESCORA_API References {
 public:
  static constexpr int kMaxReferenceHops = 64;
  // The text the references of one answer may bring in together: the default limit of an answer's
  // own size.
  static constexpr std::size_t kDefaultBudget = 16u * 1024u * 1024u;

  explicit References(std::size_t budgetBytes = kDefaultBudget);
  ~References();
  References(const References&) = delete;
  References& operator=(const References&) = delete;

  // The element `node` stands for, following its href (the last one when it has several) and
  // those of its targets.
  Followed Follow(const Node& node);
  // The text of what `node` stands for; nothing (and `why` set) when it cannot be followed.
  std::optional<std::string> Value(const Node& node, Followed* why = nullptr);

 private:
  struct Index;
  void IndexOf(const Node& node);
  std::unique_ptr<Index> index_;
  std::size_t budget_;
  std::size_t used_ = 0;
};

// A Spanish text saying why a reference could not be followed, for error descriptions.
std::string DescribeProblem(const Followed& followed);

// Escapes "&", "<" and ">" (and quotes, for attribute values) so that a value inserted into a
// rendering reaches the other side exactly as it was set. CR is written as "&#13;" (a parser
// would turn CR LF into LF), and in attribute values LF and tab as "&#10;" and "&#9;".
std::string EscapeText(std::string_view text);

// One attribute of a start tag, as written: qualified name ("xmlns:xsi" for a namespace
// declaration) and value.
struct Attribute {
  std::string name;
  std::string value;
};
// The attributes of a text meant for the inside of a start tag, such as the EsquemaXML setting
// ('xmlns:xsi = "..." xmlns:SOAP-ENC=\'...\''), namespace declarations first, each as a parser
// reads it; nothing when the text is not a well-formed run of attributes.
std::optional<std::vector<Attribute>> ParseAttributes(std::string_view attributes);
std::string EscapeAttribute(std::string_view text);

}  // namespace PRESCORA_NS::platform::xml
