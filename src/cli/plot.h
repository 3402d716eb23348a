// plot.h - a move's step frequencies drawn over step number and over time, as PNG or SVG.
#pragma once

#include <string>
#include <vector>

namespace cli {

// One series of a plot: the frequency of each step, steps per second.
struct StepSeries {
  std::string name;
  std::vector<double> frequencies;
};

// Writes `file` (.png or .svg) with two charts, frequency over step and frequency over time;
// false with `error` set when it cannot.
bool WritePlot(const std::string &file, const std::vector<StepSeries> &series, std::string &error);

} // namespace cli
