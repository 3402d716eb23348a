// driver_fixture.h - GoogleTest fixture: a fresh driver on a simulated board (SimRig), with the
// window's start-up at hand.
#pragma once

#include "sim_rig.h"

#include "lpt/lpt.h"

#include <gtest/gtest.h>

namespace kdx620::test {

class DriverFixture : public ::testing::Test, public SimRig {
protected:
  // The window's start-up configuration: port 0xdf88, half step, level 1, holding patterns,
  // pin 14 reset, single high-active reference input.
  void startUp() {
    ASSERT_TRUE(lpt::LptOpen());
    ASSERT_TRUE(lpt::TimerOpen());
    lpt::SetPortAddress("0xdf88");
    lpt::SetSchrittbetrieb(0, 1);
    lpt::OutputRuhestrom(1);
    lpt::SetControlBit(2, 0);
    lpt::SetRefInput(1, 1);
  }
};

} // namespace kdx620::test
