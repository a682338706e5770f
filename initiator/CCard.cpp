#include "initiator/CCard.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/modError.h"
#include "common/modGlobal.h"
#include "common/platform/certstore.h"
#include "common/platform/clock.h"
#include "common/platform/component.h"
#include "common/platform/convert.h"
#include "common/platform/events.h"
#include "common/platform/files.h"
#include "common/platform/profile.h"

namespace PRESCORA_NS {

namespace {

namespace certstore = platform::certstore;
namespace convert = platform::convert;

constexpr const char* kProcedure = "CCard.GetCardData";
constexpr const char* kSource = "GetCardData";
constexpr const char* kSection = "Tarjeta";
// The wait sleeps this long between passes: the host's message loop still runs 25 times a second,
// enough for a responsive window, while each wake-up, which has its price, stays rare enough to
// leave the host's processor to the host and the looks at the store.
constexpr auto kPassPause = std::chrono::milliseconds(40);

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// Words are runs of non-blank characters.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  for (std::string& piece : Split(text, ' ')) {
    if (!piece.empty()) words.push_back(std::move(piece));
  }
  return words;
}

// Lower case for ASCII and the accented capitals of Latin-1 (UTF-8 C3 80-9E but for the sign
// of multiplication), which issuers' names in Spanish hold.
std::string Lower(std::string text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>(c - 'A' + 'a');
    } else if (c == 0xC3 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97)
        text[i + 1] = static_cast<char>(next + 0x20);
      ++i;
    }
  }
  return text;
}

// Letters and digits, and every byte of a character beyond ASCII.
bool IsWordByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 || std::isalnum(u) != 0;
}

// A NUL, a control character or DEL, or a C1 control written in UTF-8 (C2 80-9F, which a terminal
// takes as an escape): such a value would be cut short by a C host or steer a terminal.
bool HasControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

// The identifier in one attribute value: the marker standing as a word of its own (BAUTISTA does
// not hold the marker TIS, nor does TIS1), then blanks or punctuation ("TIS 1", "TIS: 1",
// "TIS-1"), then the identifier up to the next blank or "-". An empty marker is found everywhere:
// the second word of the first "-" segment having two.
std::optional<std::string> IdentifierInValue(const std::string& value, const std::string& marker) {
  if (marker.empty()) {
    for (const std::string& segment : Split(value, '-')) {
      const std::vector<std::string> words = Words(segment);
      if (words.size() >= 2) return words[1];
    }
    return std::nullopt;
  }
  for (std::size_t at = value.find(marker); at != std::string::npos;
       at = value.find(marker, at + 1)) {
    std::size_t end = at + marker.size();
    if (at > 0 && IsWordByte(value[at - 1])) continue;
    if (end < value.size() && IsWordByte(value[end])) continue;
    while (end < value.size() &&
           (value[end] == ' ' || std::ispunct(static_cast<unsigned char>(value[end])) != 0))
      ++end;
    std::size_t stop = end;
    while (stop < value.size() && value[stop] != ' ' && value[stop] != '-') ++stop;
    if (stop > end) return value.substr(end, stop - end);
  }
  return std::nullopt;
}

struct Identifier {
  std::string token;
  const certstore::Attribute* attribute;
};

// The identifier in a subject: from its serialNumber attribute when it has one, where the card's
// issuer puts it (the holder's name, which the holder may choose, is then never looked at); else
// the first attribute that yields one, from the most specific part on. A marker holding "-", "="
// or "," is never found.
std::optional<Identifier> IdentifierIn(
    const std::vector<std::vector<certstore::Attribute>>& subject, const std::string& marker) {
  if (marker.find_first_of("-=,") != std::string::npos) return std::nullopt;
  bool hasSerialNumber = false;
  for (const auto& part : subject) {
    for (const certstore::Attribute& attribute : part)
      hasSerialNumber = hasSerialNumber || attribute.key == "SERIALNUMBER";
  }
  for (const auto& part : subject) {
    for (const certstore::Attribute& attribute : part) {
      if (hasSerialNumber && attribute.key != "SERIALNUMBER") continue;
      if (std::optional<std::string> token = IdentifierInValue(attribute.value, marker))
        return Identifier{*token, &attribute};
    }
  }
  return std::nullopt;
}

struct CardSettings {
  int16_t timeout = 0;
  int16_t interval = 0;
  bool quitarCeros = false;
  std::string issuer;
  std::string marker;
  certstore::Location store;  // with whether the certificates are verified
};

CardSettings ReadSettings() {
  // One settings file serves both libraries: "Interface.ini" on disk is this library's
  // "interface.ini".
  const std::string file = platform::component::InLibraryFolder("interface.ini");
  if (!platform::files::IsFile(platform::profile::ResolvedPath(file)))
    Raise(errIniNotFound, kSource);
  auto read = [&](const char* key) { return GetPrivateProfileStringEx(file, kSection, key); };
  CardSettings settings;
  settings.timeout = convert::ToInt16(read("InsercionTarjetaTimeOut"));
  settings.interval = convert::ToInt16(read("IntervaloComprobacion"));
  settings.quitarCeros = convert::ToBoolean(read("QuitarCeros"));
  settings.issuer = read("CertIssuerSimpleName");
  settings.marker = read("IdentificadorTIS");
  settings.store.database = read("BaseDatosCertificados");
  settings.store.module = read("ModuloPKCS11");
  // On unless turned off: a site whose database lacks the cards' authority may read them
  // unverified, knowingly.
  const std::string verify = read("VerificarCertificado");
  settings.store.verify = verify.empty() || convert::ToBoolean(verify);
  return settings;
}

[[noreturn]] void Refuse(const std::string& description) {
  throw platform::Failure(platform::errInvalidCall, kSource, description);
}

// One look at the store: the first certificate of the issuer that NSS verifies and that yields an
// identifier fills the argument. When none does but one of the issuer was refused (not verified,
// or with a control character in what it would give), the call fails with why: that card will not
// be read however long the wait.
bool LookAtStore(const CardSettings& settings, CArgument& objArgument) {
  std::string refusal;
  const auto ofTheIssuer = [&settings](const certstore::Certificate& certificate) {
    return Lower(certificate.issuerSimpleName) == settings.issuer;
  };
  for (const certstore::Certificate& certificate : certstore::Look(settings.store, ofTheIssuer)) {
    if (!certificate.refusal.empty()) {
      if (refusal.empty()) refusal = certificate.refusal;
      continue;
    }
    std::optional<Identifier> found = IdentifierIn(certificate.subject, settings.marker);
    if (!found) continue;
    if (HasControl(found->attribute->value) || HasControl(certificate.subjectSimpleName)) {
      if (refusal.empty())
        refusal = "El certificado de la tarjeta tiene caracteres de control en su nombre";
      continue;
    }
    objArgument.set_TIS(settings.quitarCeros ? std::to_string(convert::ToInt32(found->token))
                                             : found->token);
    objArgument.set_TitularTarjeta(certificate.subjectSimpleName);
    return true;
  }
  if (!refusal.empty()) Refuse(refusal);
  return false;
}

int SecondsOfDay() {
  const platform::clock::LocalTime now = platform::clock::Now();
  return now.hour * 3600 + now.minute * 60 + now.second;
}

}  // namespace

bool CCard::GetCardData(CArgument& objArgument, CErrorItem& objError) noexcept {
  objTrace().WriteTrace(nullptr, true, kProcedure, "False");
  objError.Clear();
  bool result = false;
  try {
    const CardSettings settings = ReadSettings();
    if (!settings.store.verify)
      objLog().Writeln(std::string(kProcedure) +
                       ":VerificarCertificado=0: los certificados de la tarjeta se leen sin "
                       "comprobar su firma, sus fechas ni su autoridad");

    // Elapsed time on the tick counter; the spacing of looks on the clock's seconds, so the store
    // is opened at most once a second whatever the interval.
    const uint32_t start = platform::clock::TickCount();
    int lastLook = SecondsOfDay();
    bool found = false;
    while (true) {
      const int now = SecondsOfDay();
      if (now != lastLook && std::abs(now - lastLook) >= settings.interval) {
        found = LookAtStore(settings, objArgument);
        lastLook = now;
      }
      const uint32_t tick = platform::clock::TickCount();
      platform::events::DoEvents();
      const int32_t elapsed = convert::RoundToInt32(static_cast<uint32_t>(tick - start) / 1000.0);
      if (found || elapsed >= settings.timeout) break;
      std::this_thread::sleep_for(kPassPause);
    }
    // A card read in the very pass in which the time ran out is still a card read.
    if (!found) Raise(errCardTimeout, kSource);
    result = true;
  } catch (...) {
    const platform::Failure failure = HandleFailure(kProcedure, std::current_exception());
    objError.set_Description(failure.Description());
    objError.set_HelpContext("0");
    objError.set_HelpFile("");
    objError.set_Number(failure.Number());
    objError.set_Source(failure.Source());
  }
  objTrace().WriteTrace(nullptr, false, kProcedure, result ? "True" : "False");
  return result;
}

}  // namespace PRESCORA_NS
