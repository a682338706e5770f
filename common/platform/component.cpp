#include "common/platform/component.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>

#include "common/platform/errors.h"

namespace PRESCORA_NS::platform::component {

namespace {

std::mutex testFolderMutex;
std::string testFolder;

std::string Folder(std::string path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  path.resize(slash);
  return path;
}

std::string ModulePath() {
  Dl_info info{};
  link_map* map = nullptr;
  std::string path;
  if (dladdr1(reinterpret_cast<void*>(&ModulePath), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) != 0) {
    // The main program has an empty name in the link map; dladdr would give argv[0].
    if (map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
      path = map->l_name;
    } else if (map == nullptr && info.dli_fname != nullptr && info.dli_fname[0] == '/') {
      path = info.dli_fname;
    }
  }
  if (path.empty()) {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) path.assign(buffer, static_cast<std::size_t>(n));
  }
  if (char* real = realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  return path;
}

// The library file in `folder`; names are matched without regard to case when the exact one is
// missing, as the identifiers are.
std::string FindLibrary(const std::string& folder, const std::string& name) {
  std::string exact = folder + "/" + name;
  if (access(exact.c_str(), F_OK) == 0) return exact;
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (EqualsIgnoringCase(entry->d_name, name)) {
        found = folder + "/" + entry->d_name;
        break;
      }
    }
    closedir(dir);
  }
  return found.empty() ? exact : found;
}

// The library lib<name>.so of the library folder, loaded once (never unloaded) and then found
// again without a look at the folder or the loader's list. Null when it cannot be loaded.
void* Load(std::string_view library) {
  static std::mutex mutex;
  static std::map<std::string, void*, std::less<>> loaded;
  const std::string name = "lib" + std::string(library) + ".so";
  const std::string key = LibraryFolder() + "/" + name;
  std::lock_guard lock(mutex);
  if (auto it = loaded.find(key); it != loaded.end()) return it->second;
  void* handle = dlopen(FindLibrary(LibraryFolder(), name).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) loaded.emplace(key, handle);
  return handle;
}

}  // namespace

std::string LibraryFolder() {
  {
    std::lock_guard lock(testFolderMutex);
    if (!testFolder.empty()) return testFolder;
  }
  static const std::string folder = Folder(ModulePath());
  return folder;
}

std::string InLibraryFolder(std::string_view name) {
  std::string path = LibraryFolder();
  if (path.empty() || path.back() != '/') path += '/';
  return path.append(name);
}

void SetLibraryFolderForTesting(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::lock_guard lock(testFolderMutex);
  testFolder = std::move(folder);
}

std::unique_ptr<IComponent> CreateObject(std::string_view progId) {
  auto point = progId.find('.');
  if (point == std::string_view::npos || point == 0 || point + 1 == progId.size())
    RaiseRuntime(errCannotCreateObject);
  std::string library(progId.substr(0, point));
  std::string className(progId.substr(point + 1));

  // Never closed: objects of the library may outlive any one caller.
  void* handle = Load(library);
  if (handle == nullptr) RaiseRuntime(errCannotCreateObject);
  using Create = prescora::IComponent* (*)(const char*);
  auto create = reinterpret_cast<Create>(dlsym(handle, "PrescoraCreateObject"));
  if (create == nullptr) RaiseRuntime(errCannotCreateObject);
  std::unique_ptr<IComponent> object(create(className.c_str()));
  if (!object) RaiseRuntime(errCannotCreateObject);
  return object;
}

bool Preload(std::string_view library) noexcept {
  try {
    void* handle = Load(library);
    if (handle == nullptr) return false;
    using Prepare = void (*)();
    if (auto prepare = reinterpret_cast<Prepare>(dlsym(handle, "PrescoraPrepare"))) prepare();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace PRESCORA_NS::platform::component
