// demo.h - the window's commands without a window, for machines without a display.
#pragma once

// Runs the start-up, the default vector move, a reference run of z and pin 14 set and reset
// on the port backend in use, printing what the simulated board did; returns the exit code.
int RunHeadlessDemo();
