// The sample settings file (config/Interface.ini) with some values changed: keys named
// "Section.Key"; a value replaces the key's value (or adds the key to its section), nothing
// removes the key.
#pragma once

#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

using SettingsChanges = std::map<std::string, std::optional<std::string>>;

inline std::string SampleSettings(const SettingsChanges& changes = {}) {
  std::ifstream in(std::string(PRESCORA_SOURCE_DIR) + "/config/Interface.ini");
  std::ostringstream out;
  std::string section;
  std::map<std::string, bool> done;
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  // Keys added to a section that the file has but where the key is missing.
  auto addMissing = [&] {
    for (const auto& [name, value] : changes) {
      auto dot = name.find('.');
      if (value && !done[name] && lower(name.substr(0, dot)) == lower(section)) {
        out << name.substr(dot + 1) << "=" << *value << "\n";
        done[name] = true;
      }
    }
  };
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      addMissing();
      section = line.substr(1, line.find(']') - 1);
      out << line << "\n";
      continue;
    }
    auto equals = line.find('=');
    if (line.empty() || line[0] == ';' || equals == std::string::npos) {
      out << line << "\n";
      continue;
    }
    auto it = changes.find(section + "." + line.substr(0, equals));
    if (it == changes.end()) {
      out << line << "\n";
    } else {
      done[it->first] = true;
      if (it->second) out << line.substr(0, equals) << "=" << *it->second << "\n";
    }
  }
  addMissing();
  return out.str();
}

inline void WriteSettings(const std::string& file, const SettingsChanges& changes = {}) {
  std::ofstream(file, std::ios::binary) << SampleSettings(changes);
}
