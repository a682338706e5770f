#include "initiator/CCard.h"

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
// enough for a responsive window, and the passes cost the host about 0.2% of one processor (each
// wake-up has its price), leaving room for the looks at the store within 2%.
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

// The identifier in a subject name: parts split at ",", an attribute's value after its "=",
// segments of the value split at "-"; in the first segment where the marker's words appear with a
// word after them, that word. A surname that merely contains the marker (BAUTISTA for TIS) is not
// the marker. An empty marker is found everywhere: the second word of the first segment having
// two.
std::optional<std::string> IdentifierIn(const std::string& subjectName, const std::string& marker) {
  const std::vector<std::string> markerWords = Words(marker);
  for (const std::string& part : Split(subjectName, ',')) {
    if (part.find(marker) == std::string::npos) continue;
    const std::vector<std::string> pieces = Split(part, '=');
    if (pieces.size() < 2) continue;
    for (const std::string& segment : Split(pieces[1], '-')) {
      if (segment.find(marker) == std::string::npos) continue;
      const std::vector<std::string> words = Words(segment);
      if (markerWords.empty()) {
        if (words.size() >= 2) return words[1];
        continue;
      }
      for (std::size_t i = 0; i + markerWords.size() < words.size(); ++i) {
        if (std::equal(markerWords.begin(), markerWords.end(), words.begin() + i))
          return words[i + markerWords.size()];
      }
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
  certstore::Location store;
};

CardSettings ReadSettings() {
  // One settings file serves both libraries: "Interface.ini" on disk is this library's
  // "interface.ini".
  const std::string file = AddBackslash(platform::component::LibraryFolder()) + "interface.ini";
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
  return settings;
}

// One look at the store: the first certificate of the issuer with an identifier fills the
// argument.
bool LookAtStore(const CardSettings& settings, CArgument& objArgument) {
  for (const certstore::Certificate& certificate : certstore::Look(settings.store)) {
    if (Lower(certificate.issuerSimpleName) != settings.issuer) continue;
    std::optional<std::string> token = IdentifierIn(certificate.subjectName, settings.marker);
    if (!token) continue;
    objArgument.set_TIS(settings.quitarCeros ? std::to_string(convert::ToInt32(*token)) : *token);
    objArgument.set_TitularTarjeta(certificate.subjectSimpleName);
    return true;
  }
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
