#pragma once
// Runs calls from a worker thread on the thread that owns a port.
//
// The monitor thread queues a call and either waits for its end (`Send` with
// ReleaseWhen::Finished; when the call raises, the sender raises a std::runtime_error with the
// same message — only the text crosses threads, never the exception object; without memory for
// the text, an empty one), or is let go as soon as the owner starts it (ReleaseWhen::Started), or not at all
// (`Post`). The owner runs queued calls in `Drain`: from its event loop, which watches
// `PollHandle()` (readable while calls wait; the Qt binding puts a socket notifier on it), and
// while it waits for the worker to end (`WaitServing`), so that stopping a worker that is in
// the middle of a delivery never deadlocks.
//
// A call may destroy the object that owns the synchroniser (a handler destroying its port):
// when the synchroniser is held by a std::shared_ptr, Drain keeps it alive until it returns,
// and a sender holding its own reference is released as usual.
//
// Thread safety: Send/Post from any thread; Drain/WaitServing on the owner.

#include <condition_variable>
#include <deque>
#include <string>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event.h"

namespace velmora::port {

class Synchronizer : public std::enable_shared_from_this<Synchronizer> {
 public:
  enum class ReleaseWhen { Started, Finished };

  Synchronizer();  // std::system_error when the system has no event to give
  ~Synchronizer();
  Synchronizer(const Synchronizer&) = delete;
  Synchronizer& operator=(const Synchronizer&) = delete;

  int PollHandle() const { return pending_->PollHandle(); }
  platform::Event& Pending() { return *pending_; }

  void Send(std::function<void()> call, ReleaseWhen release = ReleaseWhen::Finished);
  void Post(std::function<void()> call);

  // Runs every queued call, including those queued meanwhile. A posted call's exception goes
  // to the application's error display.
  void Drain();
  // Returns once `done` is signalled, running queued calls until then.
  void WaitServing(platform::Event& done);
  // Whether the calling thread is running a call whose sender waits for its end: such a
  // sender cannot be waited for here.
  bool ServingBlockedSender() const;

 private:
  struct Waiter {
    bool finished = false;
    bool failed = false;
    std::string message;
  };
  struct Item {
    std::function<void()> call;
    Waiter* waiter = nullptr;  // null for a posted call
    ReleaseWhen release = ReleaseWhen::Finished;
  };

  void Release(Waiter* waiter, bool failed, std::string message);
  void EnterBlockedCall();
  void LeaveBlockedCall();

  std::unique_ptr<platform::Event> pending_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::deque<Item> queue_;
  std::thread::id servingThread_;
  int servingDepth_ = 0;  // calls with a waiting sender now running on servingThread_
};

}  // namespace velmora::port
