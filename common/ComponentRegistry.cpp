#include "common/ComponentRegistry.h"

#include "common/platform/errors.h"

#include <cctype>
#include <mutex>
#include <utility>

namespace PRESCORA_NS {

namespace {

struct Entry {
  std::string name;
  ComponentFactory factory;
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;
};

// Built on first use: registrations run from static initialisers in any order.
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

const std::string& ArgumentAt(const std::vector<std::string>& arguments, std::size_t index) {
  if (index >= arguments.size()) platform::RaiseRuntime(platform::errInvalidCall);
  return arguments[index];
}

bool RegisterComponent(std::string_view className, ComponentFactory factory) noexcept {
  try {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (Entry& entry : registry.entries) {
      if (platform::component::EqualsIgnoringCase(entry.name, className)) {
        entry.factory = std::move(factory);
        return true;
      }
    }
    registry.entries.push_back({std::string(className), std::move(factory)});
  } catch (...) {
  }
  return true;
}

std::unique_ptr<prescora::IComponent> CreateComponent(std::string_view className) noexcept {
  try {
    ComponentFactory factory;
    {
      Registry& registry = TheRegistry();
      std::lock_guard lock(registry.mutex);
      for (const Entry& entry : registry.entries) {
        if (platform::component::EqualsIgnoringCase(entry.name, className)) {
          factory = entry.factory;
          break;
        }
      }
    }
    if (factory) return factory();
  } catch (...) {
  }
  return nullptr;
}

std::vector<std::string> RegisteredComponents() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::vector<std::string> names;
  for (const Entry& entry : registry.entries) names.push_back(entry.name);
  return names;
}

}  // namespace PRESCORA_NS

extern "C" PRESCORA_API prescora::IComponent* PrescoraCreateObject(const char* className) {
  if (className == nullptr) return nullptr;
  return PRESCORA_NS::CreateComponent(className).release();
}
