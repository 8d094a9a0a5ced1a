#include "port/synchronizer.h"

#include <stdexcept>
#include <system_error>

#include "port/error_display.h"

namespace velmora::port {

Synchronizer::Synchronizer() {
  int error = 0;
  pending_ = platform::Event::Create(true, false, &error);
  if (!pending_) throw std::system_error(error, std::generic_category(), "no event for the port's synchroniser");
}

Synchronizer::~Synchronizer() = default;

// The event is set and the waiters are woken after the lock is let go, so that the thread woken
// does not at once find the lock still held. A Drain that empties the queue between the push
// and the Set only makes the next Drain find nothing.
void Synchronizer::Send(std::function<void()> call, ReleaseWhen release) {
  Waiter waiter;
  std::unique_lock lock(mutex_);
  queue_.push_back({std::move(call), &waiter, release});
  lock.unlock();
  pending_->Set();
  lock.lock();
  released_.wait(lock, [&] { return waiter.finished; });
  if (waiter.failed) throw std::runtime_error(waiter.message);
}

void Synchronizer::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({std::move(call), nullptr, ReleaseWhen::Started});
  }
  pending_->Set();
}

namespace {

// Short of memory the text is lost, never the sender's release: a sender left waiting would hold
// its thread, and the port's close with it, for ever.
std::string MessageOf(const char* text) noexcept {
  try {
    return text;
  } catch (...) {
    return {};
  }
}

void ShowQuietly(const char* text) noexcept {
  try {
    ShowError(text);
  } catch (...) {
    // Nowhere left to report to; the queue goes on.
  }
}

}  // namespace

void Synchronizer::Release(Waiter* waiter, bool failed, std::string message) {
  {
    std::lock_guard lock(mutex_);
    waiter->failed = failed;
    waiter->message = std::move(message);
    waiter->finished = true;
  }
  // The condition variable is this object's, alive while Drain runs; the waiter may be gone.
  released_.notify_all();
}

void Synchronizer::Drain() {
  // A call may destroy this synchroniser's owner; the owner's reference is then not the last.
  const std::shared_ptr<Synchronizer> keepAlive = weak_from_this().lock();
  for (;;) {
    Item item;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) {
        // Under the lock: a call queued after this sets the event again.
        pending_->Reset();
        return;
      }
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    Waiter* waiter = item.waiter;
    if (waiter && item.release == ReleaseWhen::Started) {
      Release(waiter, false, {});
      waiter = nullptr;
    }
    if (waiter) EnterBlockedCall();
    try {
      item.call();
      if (waiter) {
        LeaveBlockedCall();
        Release(waiter, false, {});
      }
    } catch (const std::exception& e) {
      if (waiter) {
        LeaveBlockedCall();
        Release(waiter, true, MessageOf(e.what()));
      } else {
        ShowQuietly(e.what());
      }
    } catch (...) {
      if (waiter) {
        LeaveBlockedCall();
        Release(waiter, true, MessageOf("unknown error"));
      } else {
        ShowQuietly("unknown error");
      }
    }
  }
}

void Synchronizer::EnterBlockedCall() {
  std::lock_guard lock(mutex_);
  servingThread_ = std::this_thread::get_id();
  ++servingDepth_;
}

void Synchronizer::LeaveBlockedCall() {
  std::lock_guard lock(mutex_);
  --servingDepth_;
}

bool Synchronizer::ServingBlockedSender() const {
  std::lock_guard lock(mutex_);
  return servingDepth_ > 0 && servingThread_ == std::this_thread::get_id();
}

void Synchronizer::WaitServing(platform::Event& done) {
  platform::Event* events[] = {&done, pending_.get()};
  for (;;) {
    platform::WaitOutcome w = platform::WaitForAny(events, platform::kInfinite);
    if (w.kind == platform::WaitOutcome::Signalled && w.index == 0) return;
    if (w.kind == platform::WaitOutcome::Failed) return;  // cannot happen with valid events
    Drain();
  }
}

}  // namespace velmora::port
