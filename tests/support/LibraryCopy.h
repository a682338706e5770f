// A built library laid into a test's library folder as an installation holds it.
#pragma once

#include <filesystem>
#include <string>

// Copies PRESCORA_BIN_DIR/`name` (a file, or lib<Name>.so, the link to the versioned library)
// into `folder`. A library goes in under its soname (lib<Name>.so.1, which the programs linked
// against it load), with the unversioned name the component layer loads as a link to it.
inline void CopyIntoFolder(const std::string& name, const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path built = fs::path(PRESCORA_BIN_DIR) / name;
  if (!fs::is_symlink(built)) {
    fs::copy_file(built, fs::path(folder) / name);
    return;
  }
  const fs::path soname = fs::read_symlink(built).filename();
  fs::copy_file(built, fs::path(folder) / soname);
  fs::create_symlink(soname, fs::path(folder) / name);
}
