// worker_test.cpp - every move runs on a worker of its own while the caller waits for it.
#include "driver_fixture.h"

#include "lptt/lptt.h"
#include "platform/thread.h"

#include <gmock/gmock.h>

#include <mutex>
#include <set>
#include <thread>

namespace kdx620::test {
namespace {

using ::testing::ElementsAre;

// Notes which threads the board's time stamps were taken on: the threads that drove it.
class Worker : public DriverFixture {
protected:
  void SetUp() override {
    platform::allowRealTime(false); // unit tests run at normal priority, on any machine
    DriverFixture::SetUp();
    startUp();
    board->enableLog(64);
    board->setTimeSource([this] {
      // Thread ids are reused once a thread has ended; thread-local storage is new each time.
      thread_local bool counted = false;
      std::lock_guard lock(threadsMutex_);
      drivingThreads_ += counted ? 0 : 1;
      counted = true;
      onCaller_ = onCaller_ || std::this_thread::get_id() == caller_;
      return counter.peek();
    });
    platform::setErrorBoxHandler([this](std::string_view text) {
      boxes.emplace_back(text);
      boxThreads_.insert(std::this_thread::get_id());
    });
  }
  void TearDown() override {
    platform::testing::failThreadCreation(false);
    platform::allowRealTime(true);
    DriverFixture::TearDown();
  }
  // How many threads drove the board, and whether the calling thread was one of them.
  int drivingThreads() {
    std::lock_guard lock(threadsMutex_);
    return drivingThreads_;
  }
  bool drivenByCaller() {
    std::lock_guard lock(threadsMutex_);
    return onCaller_;
  }
  std::set<std::thread::id> boxThreads_;

private:
  const std::thread::id caller_ = std::this_thread::get_id();
  std::mutex threadsMutex_;
  int drivingThreads_ = 0;
  bool onCaller_ = false;
};

TEST_F(Worker, TwoMovesRunOnTwoWorkersInTurnNeverOnTheCaller) {
  EXPECT_TRUE(lptt::RunVektorfahrt(0, 3, 0, 0, 200, 600, 100));
  const auto afterFirst = drivingThreads();
  EXPECT_TRUE(lptt::RunVektorfahrt(0, 0, -2, 0, 200, 600, 100));
  const auto afterBoth = drivingThreads();

  EXPECT_EQ(board->position(0), 3);
  EXPECT_EQ(board->position(1), -2);
  EXPECT_EQ(afterFirst, 1);
  EXPECT_EQ(afterBoth, 2);
  EXPECT_FALSE(drivenByCaller());
}

TEST_F(Worker, AReferenceRunRunsOnAWorkerWithItsReferenceFrequency) {
  board->setSwitchPosition(0, -8);
  lptt::RunReferenzfahrt(0, 'x', 5, 200, 500, 100);
  EXPECT_EQ(board->position(0), -7 + 5);
  EXPECT_EQ(drivingThreads(), 1);
  EXPECT_FALSE(drivenByCaller());
}

TEST_F(Worker, AZeroMoveStillReportsDone) {
  EXPECT_TRUE(lptt::RunVektorfahrt(0, 0, 0, 0, 200, 600, 100));
  EXPECT_EQ(drivingThreads(), 0);
}

TEST_F(Worker, ARefusedMoveEndsAndItsMessageIsShownByTheCaller) {
  useBoard(platform::SimConfig{});
  ASSERT_TRUE(lpt::LptOpen());
  ASSERT_TRUE(lpt::TimerOpen());
  lpt::SetPortAddress("0xdf88"); // no step mode
  lpt::SetRefInput(1, 1);
  platform::setErrorBoxHandler([this](std::string_view text) {
    boxes.emplace_back(text);
    boxThreads_.insert(std::this_thread::get_id());
  });

  EXPECT_TRUE(lptt::RunVektorfahrt(0, 10, 0, 0, 200, 600, 100));
  lptt::RunReferenzfahrt(0, 'y', 25, 200, 500, 100);

  EXPECT_THAT(boxes, ElementsAre("Schrittbetrieb einstellen!", "Schrittbetrieb einstellen!",
                                 "Schrittbetrieb einstellen!", "Schrittbetrieb einstellen!"));
  EXPECT_THAT(boxThreads_, ElementsAre(std::this_thread::get_id()));
}

TEST_F(Worker, AWorkerIsNotDoneBeforeItRuns) {
  lptt::TlptT worker;
  EXPECT_FALSE(worker.done.load());
  EXPECT_EQ(worker.xStep, 0);
  EXPECT_FALSE(worker.isVektorfahrt);
} // never resumed: it ends without running its move

TEST_F(Worker, AWorkerThatCannotBeCreatedIsReportedOnceAndNothingWaits) {
  platform::testing::failThreadCreation(true);
  EXPECT_FALSE(lptt::RunVektorfahrt(0, 10, 0, 0, 200, 600, 100));
  ASSERT_EQ(boxes.size(), 1U);
  EXPECT_THAT(boxes[0], ::testing::StartsWith("Fahrt nicht gestartet"));
  EXPECT_EQ(board->position(0), 0);
}

} // namespace
} // namespace kdx620::test
