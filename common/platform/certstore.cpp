#include "common/platform/certstore.h"

#include <cert.h>
#include <certt.h>
#include <nss.h>
#include <pk11pub.h>
#include <prerror.h>
#include <prprf.h>
#include <pwd.h>
#include <secerr.h>
#include <secitem.h>
#include <secmod.h>
#include <secport.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "common/platform/errors.h"
#include "common/platform/files.h"

namespace PRESCORA_NS::platform::certstore {

namespace {

constexpr const char* kSource = "certstore";
// Read-only, without the built-in roots (never personal), and tolerant of a card module the host
// has already initialised for itself.
constexpr PRUint32 kOpenFlags =
    NSS_INIT_READONLY | NSS_INIT_NOROOTINIT | NSS_INIT_OPTIMIZESPACE | NSS_INIT_PK11RELOAD;

std::string NssReason() {
  PRErrorCode code = PR_GetError();
  const char* text = PORT_ErrorToString(code);
  if (text == nullptr || *text == '\0') text = PR_ErrorToName(code);
  return text != nullptr ? text : "error " + std::to_string(code);
}

[[noreturn]] void Fail(int32_t number, const std::string& text) {
  throw Failure(number, kSource, text + ": " + NssReason());
}

// The folder part of an NSS database name ("sql:/x" -> "/x").
std::string DatabaseFolder(const std::string& database) {
  for (const char* prefix : {"sql:", "dbm:", "extern:", "rdb:"}) {
    if (database.rfind(prefix, 0) == 0) return database.substr(std::string(prefix).size());
  }
  return database;
}

// A value inside a module parameter string: quoted, with quotes and backslashes escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// ---- Names ----

std::string AvaValue(const CERTAVA& ava) {
  if (SECItem* decoded = CERT_DecodeAVAValue(&ava.value)) {
    std::string value(reinterpret_cast<const char*>(decoded->data), decoded->len);
    SECITEM_FreeItem(decoded, PR_TRUE);
    return value;
  }
  // A string type NSS does not decode: the encoded value in hexadecimal, as the platform does.
  static const char digits[] = "0123456789ABCDEF";
  std::string value = "#";
  for (unsigned i = 0; i < ava.value.len; ++i) {
    value += digits[ava.value.data[i] >> 4];
    value += digits[ava.value.data[i] & 0x0F];
  }
  return value;
}

std::string AvaKey(CERTAVA& ava) {
  switch (CERT_GetAVATag(&ava)) {
    case SEC_OID_AVA_COMMON_NAME:
      return "CN";
    case SEC_OID_AVA_SERIAL_NUMBER:
      return "SERIALNUMBER";
    case SEC_OID_AVA_GIVEN_NAME:
      return "G";
    case SEC_OID_AVA_SURNAME:
      return "SN";
    case SEC_OID_AVA_ORGANIZATION_NAME:
      return "O";
    case SEC_OID_AVA_ORGANIZATIONAL_UNIT_NAME:
      return "OU";
    case SEC_OID_AVA_LOCALITY:
      return "L";
    case SEC_OID_AVA_STATE_OR_PROVINCE:
      return "S";
    case SEC_OID_AVA_COUNTRY_NAME:
      return "C";
    case SEC_OID_PKCS9_EMAIL_ADDRESS:
      return "E";
    case SEC_OID_AVA_STREET_ADDRESS:
      return "STREET";
    case SEC_OID_AVA_TITLE:
      return "T";
    case SEC_OID_AVA_INITIALS:
      return "I";
    case SEC_OID_AVA_DC:
      return "DC";
    case SEC_OID_AVA_POSTAL_CODE:
      return "PostalCode";
    case SEC_OID_AVA_POST_OFFICE_BOX:
      return "POBox";
    default:
      break;
  }
  std::string key = "OID.";
  if (char* dotted = CERT_GetOidString(&ava.type)) {
    // NSS writes "OID.n.n.n" already.
    key = dotted;
    PR_smprintf_free(dotted);
  }
  return key;
}

std::string QuotedIfNeeded(const std::string& value) {
  bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ');
  for (char c : value) {
    if (std::string_view(",+=\"<>#;\r\n").find(c) != std::string_view::npos) quote = true;
  }
  if (!quote) return value;
  std::string out = "\"";
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

template <class Visit>
void ForEachAva(const CERTName& name, Visit&& visit) {
  if (name.rdns == nullptr) return;
  for (CERTRDN** rdn = name.rdns; *rdn != nullptr; ++rdn) {
    if ((*rdn)->avas == nullptr) continue;
    for (CERTAVA** ava = (*rdn)->avas; *ava != nullptr; ++ava) visit(**rdn, **ava);
  }
}

// The name's parts, most specific first: the reverse of the encoded order.
std::vector<std::vector<Attribute>> NameParts(const CERTName& name) {
  std::vector<std::vector<Attribute>> parts;
  const CERTRDN* current = nullptr;
  ForEachAva(name, [&](const CERTRDN& rdn, CERTAVA& ava) {
    if (&rdn != current) {
      parts.emplace_back();
      current = &rdn;
    }
    parts.back().push_back({AvaKey(ava), AvaValue(ava)});
  });
  return {parts.rbegin(), parts.rend()};
}

std::string NameText(const std::vector<std::vector<Attribute>>& parts) {
  std::string text;
  for (const auto& part : parts) {
    if (!text.empty()) text += ", ";
    for (std::size_t i = 0; i < part.size(); ++i) {
      if (i > 0) text += " + ";
      text += part[i].key + "=" + QuotedIfNeeded(part[i].value);
    }
  }
  return text;
}

// Empty when NSS verifies the certificate now for a use a card's certificate serves (client
// authentication, else signing mail); else NSS's reason for the first.
std::string Refusal(CERTCertificate& cert) {
  CERTCertDBHandle* handle = CERT_GetDefaultCertDB();
  if (CERT_VerifyCertNow(handle, &cert, PR_TRUE, certUsageSSLClient, nullptr) == SECSuccess)
    return {};
  const std::string reason = NssReason();
  if (CERT_VerifyCertNow(handle, &cert, PR_TRUE, certUsageEmailSigner, nullptr) == SECSuccess)
    return {};
  return "El certificado de la tarjeta no es de confianza: " + reason;
}

// The e-mail address of an alternative-name extension of the certificate, or "".
std::string AltNameEmail(CERTCertificate& cert, SECOidTag extension) {
  SECItem encoded{siBuffer, nullptr, 0};
  if (CERT_FindCertExtension(&cert, extension, &encoded) != SECSuccess) return {};
  std::string email;
  PLArenaPool* arena = PORT_NewArena(DER_DEFAULT_CHUNKSIZE);
  if (arena != nullptr) {
    CERTGeneralName* first = CERT_DecodeAltNameExtension(arena, &encoded);
    CERTGeneralName* name = first;
    while (name != nullptr) {
      if (name->type == certRFC822Name) {
        email.assign(reinterpret_cast<const char*>(name->name.other.data), name->name.other.len);
        break;
      }
      name = CERT_GetNextGeneralName(name);
      if (name == first) break;
    }
    PORT_FreeArena(arena, PR_FALSE);
  }
  SECITEM_FreeItem(&encoded, PR_FALSE);
  return email;
}

std::string SimpleName(CERTCertificate& cert, const CERTName& name, SECOidTag altNames) {
  for (SECOidTag wanted : {SEC_OID_AVA_COMMON_NAME, SEC_OID_AVA_ORGANIZATIONAL_UNIT_NAME,
                           SEC_OID_AVA_ORGANIZATION_NAME, SEC_OID_PKCS9_EMAIL_ADDRESS}) {
    std::string found;
    bool have = false;
    ForEachAva(name, [&](const CERTRDN&, CERTAVA& ava) {
      if (!have && CERT_GetAVATag(&ava) == wanted) {
        found = AvaValue(ava);
        have = true;
      }
    });
    if (have) return found;
  }
  std::string email = AltNameEmail(cert, altNames);
  if (!email.empty()) return email;
  std::string first;
  bool have = false;
  ForEachAva(name, [&](const CERTRDN&, CERTAVA& ava) {
    if (!have) first = AvaValue(ava);
    have = true;
  });
  return first;
}

// ---- One look ----

struct ContextCloser {
  void operator()(NSSInitContext* context) const { NSS_ShutdownContext(context); }
};
struct ListCloser {
  void operator()(CERTCertList* list) const { CERT_DestroyCertList(list); }
};
struct SlotListCloser {
  void operator()(PK11SlotList* list) const { PK11_FreeSlotList(list); }
};
struct ModuleCloser {
  void operator()(SECMODModule* module) const {
    if (module->loaded) SECMOD_UnloadUserModule(module);
    SECMOD_DestroyModule(module);
  }
};

std::unique_ptr<NSSInitContext, ContextCloser> OpenDatabase(const std::string& database) {
  NSSInitContext* context = nullptr;
  if (database.empty() && !files::IsDirectory(DatabaseFolder(DefaultDatabase()))) {
    // No database yet (the user never used a browser): an empty store the module may fill.
    context =
        NSS_InitContext("", "", "", "", nullptr, kOpenFlags | NSS_INIT_NOCERTDB | NSS_INIT_NOMODDB);
    if (context == nullptr) Fail(errPathFileAccess, "No se puede iniciar NSS");
  } else {
    const std::string name = database.empty() ? DefaultDatabase() : database;
    context = NSS_InitContext(name.c_str(), "", "", "", nullptr, kOpenFlags);
    if (context == nullptr)
      Fail(errPathFileAccess, "No se puede abrir el almacén de certificados " + name);
  }
  return std::unique_ptr<NSSInitContext, ContextCloser>(context);
}

std::unique_ptr<SECMODModule, ModuleCloser> LoadModule(const std::string& path) {
  const std::string moduleArgs = "name=\"Prescora lector de tarjetas\" library=" + Quoted(path);
  SECMODModule* module =
      SECMOD_LoadUserModule(const_cast<char*>(moduleArgs.c_str()), nullptr, PR_FALSE);
  std::unique_ptr<SECMODModule, ModuleCloser> owned(module);
  if (module == nullptr || !module->loaded)
    Fail(48, "No se puede cargar el módulo PKCS#11 " + path);
  return owned;
}

}  // namespace

std::string DefaultDatabase() {
  const char* home = std::getenv("HOME");
  std::string folder = home != nullptr ? home : "";
  if (folder.empty()) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
      folder = found->pw_dir;
  }
  return "sql:" + folder + "/.pki/nssdb";
}

std::vector<Certificate> Look(const Location& location,
                              const std::function<bool(const Certificate&)>& wanted) {
  auto context = OpenDatabase(location.database);
  std::unique_ptr<SECMODModule, ModuleCloser> module;
  if (!location.module.empty()) module = LoadModule(location.module);

  std::vector<Certificate> certificates;
  // Token by token in the slot list's order, each token's certificates in the order it gives
  // them; NSS's own list of every certificate comes out of a hash table in no order at all.
  std::unique_ptr<PK11SlotList, SlotListCloser> slots(
      PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr));
  if (slots == nullptr) return certificates;
  for (PK11SlotListElement* slot = slots->head; slot != nullptr; slot = slot->next) {
    if (!PK11_IsPresent(slot->slot)) continue;
    // Released before the module and the context: NSS closes only when nothing is held.
    std::unique_ptr<CERTCertList, ListCloser> list(PK11_ListCertsInSlot(slot->slot));
    if (list == nullptr) continue;
    for (CERTCertListNode* node = CERT_LIST_HEAD(list.get()); !CERT_LIST_END(node, list.get());
         node = CERT_LIST_NEXT(node)) {
      CERTCertificate& cert = *node->cert;
      if (!CERT_IsUserCert(&cert)) continue;
      Certificate found;
      found.issuerSimpleName = SimpleName(cert, cert.issuer, SEC_OID_X509_ISSUER_ALT_NAME);
      found.subjectSimpleName = SimpleName(cert, cert.subject, SEC_OID_X509_SUBJECT_ALT_NAME);
      found.subject = NameParts(cert.subject);
      found.subjectName = NameText(found.subject);
      if (wanted && !wanted(found)) continue;
      if (location.verify) found.refusal = Refusal(cert);
      certificates.push_back(std::move(found));
    }
  }
  return certificates;
}

}  // namespace PRESCORA_NS::platform::certstore
