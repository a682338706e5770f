// Descriptors of ours that a fork of the host must not keep. A host may fork without exec (worker
// processes, Python's multiprocessing): its child would go on holding the locks those descriptors
// carry, which the system releases only with the last descriptor of them, and the channel of a
// launcher, which would then wait for as long as the child lives.
#pragma once

#include <mutex>

#include "common/Export.h"

namespace PRESCORA_NS::platform::forks {

// Something that holds such descriptors, known while it is added.
class Holder {
 public:
  // In the child of a fork, on its one thread, with the guard held: closes the descriptors and
  // forgets them, and touches nothing else the parent may have been changing.
  virtual void InChild() noexcept = 0;

 protected:
  ~Holder() = default;

 private:
  friend void Add(Holder& holder);
  friend void Remove(Holder& holder) noexcept;
  Holder* previous_ = nullptr;
  Holder* next_ = nullptr;
};

// Held while such descriptors are opened, closed or change hands, and while a holder is added or
// removed: a fork waits for it, so that its child finds each descriptor known to its holder or
// not there at all.
std::unique_lock<std::mutex> Guard();
// With the guard held.
void Add(Holder& holder);
void Remove(Holder& holder) noexcept;

}  // namespace PRESCORA_NS::platform::forks
