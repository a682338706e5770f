// The current user's personal certificate store, where a health card's certificate appears while
// the card is in the reader. Built on NSS: the store is an NSS database (the one browsers and
// modutil use) opened read-only, holding the certificates of every token whose PKCS#11 module is
// registered in it (OpenSC for card readers), plus optionally one module loaded for the look.
//
// Personal certificates are those NSS marks as the user's own: with a private key on their token
// (a public key of the same CKA_ID stands for it on a card that is not logged in).
//
// Every look opens the database and the modules and closes them again, so a token that appears
// or a certificate written onto one after an earlier look is seen on the next one. A look is
// costly in processor time (the whole database opened), so callers space their looks.
//
// Compiled into the retrieval library only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/Export.h"

namespace PRESCORA_NS::platform::certstore {

struct Location {
  // The NSS database: "sql:/folder", "dbm:/folder" or a folder (NSS's rules). Empty: the user's
  // database, sql:$HOME/.pki/nssdb; when that one does not exist the store holds only the
  // certificates of `module`.
  std::string database;
  // A PKCS#11 module (shared library path) to load for the look besides those registered in the
  // database, such as /usr/lib/x86_64-linux-gnu/opensc-pkcs11.so. Empty: none.
  std::string module;
  // Whether each certificate is verified: its signature, its dates and its chain up to an
  // authority the database trusts for client authentication or for signing mail.
  bool verify = true;
};

// One attribute of a name: the key as the platform writes it (see subjectName) and the value as
// the certificate encodes it, decoded to UTF-8, never quoted nor escaped.
struct Attribute {
  std::string key;
  std::string value;
};

// The names the card reader reads, as the desktop platform gives them.
struct Certificate {
  // Simple names: the first of common name, organizational unit, organization and e-mail
  // attribute; else the e-mail of the alternative-name extension; else the first attribute of
  // the name; else "".
  std::string issuerSimpleName;
  std::string subjectSimpleName;
  // The subject distinguished name as text, most specific part first (the reverse of the encoded
  // order, so the common name usually leads), parts joined by ", ", the values of one multi-valued
  // part by " + ". Keys as the platform writes them: CN, SERIALNUMBER, G, SN, O, OU, L, S, C, E,
  // STREET, T, I, DC, PostalCode, POBox, ...; other attributes as OID.n.n.n. A value holding
  // , + = " < > # ; or a line break, or with blanks at either end, is put in double quotes with
  // inner quotes doubled.
  std::string subjectName;
  // The same subject as NSS parsed it: its parts in the same order, each with its attributes
  // (several in a multi-valued part) in the order they are encoded.
  std::vector<std::vector<Attribute>> subject;
  // Empty when the certificate was verified (or Location::verify is false); else why NSS refused
  // it, in Spanish with NSS's reason.
  std::string refusal;
};

// The store's personal certificates as they are now, in the store's order: token by token in
// NSS's slot order (the database's own token, then the modules' in the order they were
// registered, the loaded module last), each token's in the order the token gives. A database that
// cannot be opened raises runtime error 75, a module that cannot be loaded 48; the description
// names it and gives NSS's reason.
//
// `wanted`, when given, sees each certificate's names before it is verified: the certificates it
// turns down are left out, unverified (a verification costs about as much as the rest of a look).
std::vector<Certificate> Look(const Location& location,
                              const std::function<bool(const Certificate&)>& wanted = {});

// The database an empty Location::database means.
std::string DefaultDatabase();

}  // namespace PRESCORA_NS::platform::certstore
