// thread.h - a thread that is created suspended, given its priority, resumed, runs Execute
// once and is joined; time-critical priority is SCHED_FIFO with memory locked.
#pragma once

#include "error_box.h"

#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <string>

namespace platform {

enum class ThreadPriority { normal, timeCritical };

// Whether time-critical threads may use real-time scheduling at all. On by default;
// KDX620_PRIORITY=normal in the environment, or this call, turns it off.
void allowRealTime(bool allowed);

// What the last time-critical request got, for the operator to see.
struct RealTimeState {
  bool requested = false; // a time-critical thread was asked for
  bool granted = false;   // it runs under SCHED_FIFO
  bool memoryLocked = false;
  int cpu = -1;     // the CPU it is pinned to, or -1
  std::string note; // why not, or what to set; empty when all is well
};
RealTimeState realTimeState();

class Thread {
public:
  // Creates the thread, which waits for resume() before it runs Execute.
  Thread();
  virtual ~Thread();
  Thread(const Thread &) = delete;
  Thread &operator=(const Thread &) = delete;

  // False when the system could not create the thread; creationError() says why.
  bool created() const { return created_; }
  const std::string &creationError() const { return creationError_; }

  // Sets the priority while the thread is still suspended.
  void setPriority(ThreadPriority priority);
  void resume();
  // Waits until the thread has ended; later calls return at once. Owners of a resumed thread
  // join before the derived object goes, since Execute may still be using it.
  void join();

  // Error boxes that Execute raised, for the thread that waited for it to show.
  DeferredErrorBoxes &deferredErrorBoxes() { return deferred_; }

protected:
  // The thread's body, run once on the thread after resume().
  virtual void Execute() = 0;

private:
  static void *Entry(void *self);

  pthread_t handle_{};
  bool created_ = false;
  bool joined_ = false;
  std::string creationError_;
  std::mutex gate_;
  std::condition_variable resumed_;
  bool resumeRequested_ = false;
  bool abandoned_ = false;
  DeferredErrorBoxes deferred_;
};

namespace testing {
// Makes every following thread creation fail as if the system had refused it.
void failThreadCreation(bool fail);
} // namespace testing

} // namespace platform
