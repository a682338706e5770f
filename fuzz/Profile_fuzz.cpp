// The settings reader (and writer) on any file: Interface.ini and the audit files are edited by
// people and tools, and the audit file holds texts that came from the service.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/modGlobal.h"
#include "common/platform/profile.h"
#include "fuzz/FuzzFile.h"

namespace profile = PRESCORA_NS::platform::profile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& file = ScratchFile(".ini");
  if (!WriteScratch(file, data, size)) return 0;
  // The names asked for come from the input's first line, "section|key", when it has one.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view first = text.substr(0, text.find('\n'));
  std::string section = "Configuracion", key = "Servicio";
  if (auto bar = first.find('|'); bar != std::string_view::npos) {
    section = first.substr(0, bar);
    key = first.substr(bar + 1);
  }
  PRESCORA_NS::GetPrivateProfileStringEx(file, section, key);
  profile::GetString(file, "MensajeSOAP", "Enviados", "", 255);
  profile::GetString(file, section, key, "x", 1);
  profile::WriteString(file, section, key, "valor\r\n[Inyectada]");
  profile::Update(file, "MensajeSOAP", "Enviados",
                  [](const std::string& current) { return current + "1"; });
  profile::GetString(file, section, key);
  return 0;
}
