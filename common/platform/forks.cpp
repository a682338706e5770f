#include "common/platform/forks.h"

#include <pthread.h>

namespace PRESCORA_NS::platform::forks {

namespace {

std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

Holder* first = nullptr;
bool registered = false;

}  // namespace

std::unique_lock<std::mutex> Guard() {
  return std::unique_lock<std::mutex>(Mutex());
}

void Add(Holder& holder) {
  if (!registered) {
    // Handlers of a library are removed by the system when the library is unloaded.
    registered = pthread_atfork([] { Mutex().lock(); }, [] { Mutex().unlock(); },
                                [] {
                                  for (Holder* h = first; h != nullptr;) {
                                    Holder* next = h->next_;
                                    h->InChild();
                                    h = next;
                                  }
                                  Mutex().unlock();
                                }) == 0;
  }
  holder.previous_ = nullptr;
  holder.next_ = first;
  if (first != nullptr) first->previous_ = &holder;
  first = &holder;
}

void Remove(Holder& holder) noexcept {
  if (holder.previous_ != nullptr)
    holder.previous_->next_ = holder.next_;
  else if (first == &holder)
    first = holder.next_;
  if (holder.next_ != nullptr) holder.next_->previous_ = holder.previous_;
  holder.previous_ = holder.next_ = nullptr;
}

}  // namespace PRESCORA_NS::platform::forks
