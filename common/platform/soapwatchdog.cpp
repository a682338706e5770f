#include "common/platform/soapwatchdog.h"

#include <httplib.h>
#include <unistd.h>

#include <atomic>

#include "common/platform/soap.h"

namespace PRESCORA_NS::platform::soap {

namespace {

// Set by KeepExchangesOnOneThread: exchanges on the main thread start no thread of their own.
std::atomic<bool> oneThread{false};

}  // namespace

void KeepExchangesOnOneThread() noexcept {
  oneThread = true;
}

bool ExchangesOnOneThread() {
  return oneThread;
}

Watchdog::Watchdog() : polled_(oneThread && ::gettid() == ::getpid()) {
  if (!polled_) thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
  if (polled_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  woken_.notify_all();
  thread_.join();
}

void Watchdog::Arm(httplib::ClientImpl* client, Clock::time_point deadline) {
  if (polled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = client;
  deadline_ = deadline;
  fired_ = false;
  ++armed_;
  woken_.notify_all();
}

bool Watchdog::Disarm() {
  if (polled_) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = nullptr;
  return fired_;
}

void Watchdog::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!client_) {
      woken_.wait(lock);
      continue;
    }
    const unsigned long armed = armed_;
    if (woken_.wait_until(lock, deadline_, [&] { return quit_ || !client_ || armed_ != armed; }))
      continue;
    fired_ = true;
    client_->stop();
    client_ = nullptr;
  }
}

}  // namespace PRESCORA_NS::platform::soap
