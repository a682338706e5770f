// The bound of an exchange that does not keep its deadline itself. Internal to the client.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/platform/soapwire.h"

namespace httplib {
class ClientImpl;
}

namespace PRESCORA_NS::platform::soap {

// Whether KeepExchangesOnOneThread was called.
bool ExchangesOnOneThread();

// Bounds an exchange: at its deadline it shuts the connection of the request under way, so a
// server that sends its answer a byte at a time cannot hold the call. One thread per client,
// asleep between exchanges; or, on the main thread of a process that keeps its exchanges on one
// thread, no thread at all (a second thread would make every later change of the process's memory
// cost a signal to the other processor): the exchange then keeps its own deadline, every wait for
// the socket bounded by the time left and every piece of the answer checked against it.
class Watchdog {
 public:
  Watchdog();
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Whether the exchange keeps its deadline itself, with no thread to stop it.
  bool Polled() const { return polled_; }

  // Stops `client` at `deadline` unless disarmed before.
  void Arm(httplib::ClientImpl* client, Clock::time_point deadline);
  // Whether it fired since Arm.
  bool Disarm();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable woken_;
  httplib::ClientImpl* client_ = nullptr;
  Clock::time_point deadline_;
  unsigned long armed_ = 0;
  bool fired_ = false;
  bool quit_ = false;
  const bool polled_;
  std::thread thread_;  // last: it starts once the rest is set
};

}  // namespace PRESCORA_NS::platform::soap
