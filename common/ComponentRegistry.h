// The classes of this library that can be created by programmatic identifier
// ("Interface.CExecutor"). Each class registers a factory under its class name with
// PRESCORA_REGISTER_COMPONENT in its own .cpp; the library's exported PrescoraCreateObject
// (platform/component.h) asks this registry. Class names are matched without regard to case.
//
// Registration runs when the library is loaded, so it is complete in the shared library. A
// program linking the static archive only has the classes of the object files it pulls in.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Export.h"
#include "common/platform/component.h"

namespace PRESCORA_NS {

using ComponentFactory = std::function<std::unique_ptr<prescora::IComponent>()>;

// Registers `factory` under `className`, replacing an earlier one of that name. Returns true, so
// that it can initialise a namespace-scope constant.
bool RegisterComponent(std::string_view className, ComponentFactory factory) noexcept;

// A new object of the registered class, or null when there is none (or its factory failed).
std::unique_ptr<prescora::IComponent> CreateComponent(std::string_view className) noexcept;

// The registered class names, in registration order.
std::vector<std::string> RegisteredComponents();

// Helpers of the classes' Invoke: member names match without regard to case; a missing argument
// is runtime error 5; Booleans travel as "True" / "False".
inline bool IsMember(std::string_view member, std::string_view name) {
  return platform::component::EqualsIgnoringCase(member, name);
}
const std::string& ArgumentAt(const std::vector<std::string>& arguments, std::size_t index);
inline std::string BoolResult(bool value) {
  return value ? "True" : "False";
}

}  // namespace PRESCORA_NS

#define PRESCORA_COMPONENT_CONCAT2(a, b) a##b
#define PRESCORA_COMPONENT_CONCAT(a, b) PRESCORA_COMPONENT_CONCAT2(a, b)

// Registers a default-constructible class derived from prescora::IComponent under a name:
//   PRESCORA_REGISTER_COMPONENT("CExecutor", CExecutorComponent);
// Use at namespace scope in a .cpp of the library.
#define PRESCORA_REGISTER_COMPONENT(className, Type)                                     \
  namespace {                                                                            \
  [[maybe_unused]] const bool PRESCORA_COMPONENT_CONCAT(prescoraRegistered_, __LINE__) = \
      ::PRESCORA_NS::RegisterComponent(className,                                        \
                                       []() -> std::unique_ptr<::prescora::IComponent> { \
                                         return std::make_unique<Type>();                \
                                       });                                               \
  }
