// thread.cpp - the thread base, and time-critical priority on Linux: SCHED_FIFO near the top,
// memory locked, and the thread pinned away from the CPU of the thread that starts it.
#include "thread.h"

#include "error_box.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {
namespace {

// High, but below the kernel's own top-priority threads (watchdogs, migration).
constexpr int kFifoPriority = 90;

bool &realTimeAllowedFlag() {
  static bool allowed = [] {
    const char *setting = std::getenv("KDX620_PRIORITY");
    return !(setting && std::strcmp(setting, "normal") == 0);
  }();
  return allowed;
}

std::atomic<bool> creationFails{false};

RealTimeState &state() {
  static RealTimeState current;
  return current;
}

// Tells the operator each different note once.
void notifyOnce(const std::string &note) {
  static std::string lastNote;
  if (!note.empty() && note != lastNote) {
    lastNote = note;
    notifyOperator(note);
  }
}

// Locked once for the process, pages as they are touched (MCL_ONFAULT, so large reserved
// mappings cost nothing); only where no lock limit applies, since under a finite limit every
// later allocation past it would fail.
bool lockMemoryOnce() {
  static const bool locked = [] {
    rlimit limit{};
    const bool unlimited =
        getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    return (unlimited || geteuid() == 0) && mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0;
  }();
  return locked;
}

// The highest CPU this process may use other than the caller's, or -1 with only one.
int cpuAwayFromCaller() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
    return -1;
  }
  const int callerCpu = sched_getcpu();
  for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
    if (CPU_ISSET(static_cast<std::size_t>(cpu), &allowed) && cpu != callerCpu) {
      return cpu;
    }
  }
  return -1;
}

// Linux pauses real-time threads that run without a break for longer than this share.
std::string throttlingNote() {
  std::ifstream setting("/proc/sys/kernel/sched_rt_runtime_us");
  long runtime = -1;
  if (!(setting >> runtime) || runtime < 0) {
    return {};
  }
  return "real-time throttling is on (kernel.sched_rt_runtime_us=" + std::to_string(runtime) +
         "): long moves may pause for 50 ms each second; set it to -1 to keep them running";
}

} // namespace

void allowRealTime(bool allowed) {
  realTimeAllowedFlag() = allowed;
}

RealTimeState realTimeState() {
  return state();
}

Thread::Thread() {
  const int error =
      creationFails ? EAGAIN : pthread_create(&handle_, nullptr, &Thread::Entry, this);
  created_ = error == 0;
  if (!created_) {
    creationError_ = std::strerror(error);
  }
}

Thread::~Thread() {
  if (!created_ || joined_) {
    return;
  }
  {
    // Never resumed: let the thread end without running Execute.
    std::lock_guard lock(gate_);
    abandoned_ = true;
  }
  resumed_.notify_one();
  pthread_join(handle_, nullptr);
}

void Thread::setPriority(ThreadPriority priority) {
  if (!created_ || priority == ThreadPriority::normal) {
    return;
  }
  RealTimeState &now = state();
  now = RealTimeState{};
  now.requested = true;
  if (!realTimeAllowedFlag()) {
    now.note = "real-time priority switched off (KDX620_PRIORITY=normal)";
    return;
  }
  const sched_param fifo{kFifoPriority};
  if (const int error = pthread_setschedparam(handle_, SCHED_FIFO, &fifo); error != 0) {
    now.note = std::string("no real-time priority (") + std::strerror(error) +
               "): moves run at normal priority; give kdx620 an rtprio limit or "
               "CAP_SYS_NICE for steady steps";
    notifyOnce(now.note);
    return;
  }
  now.granted = true;
  now.memoryLocked = lockMemoryOnce();
  if (const int cpu = cpuAwayFromCaller(); cpu >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<std::size_t>(cpu), &one);
    now.cpu = pthread_setaffinity_np(handle_, sizeof one, &one) == 0 ? cpu : -1;
  }
  now.note = throttlingNote();
  notifyOnce(now.note);
}

void Thread::resume() {
  {
    std::lock_guard lock(gate_);
    resumeRequested_ = true;
  }
  resumed_.notify_one();
}

void Thread::join() {
  if (created_ && !joined_) {
    pthread_join(handle_, nullptr);
    joined_ = true;
  }
}

void *Thread::Entry(void *self) {
  auto *thread = static_cast<Thread *>(self);
  {
    std::unique_lock lock(thread->gate_);
    thread->resumed_.wait(lock,
                          [thread] { return thread->resumeRequested_ || thread->abandoned_; });
    if (!thread->resumeRequested_) {
      return nullptr;
    }
  }
  thread->deferred_.captureThisThread();
  thread->Execute();
  return nullptr;
}

void testing::failThreadCreation(bool fail) {
  creationFails = fail;
}

} // namespace platform
