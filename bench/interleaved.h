#pragma once

#include <functional>
#include <vector>

// Times the sides of a comparison in turns (A B A B ...), so that each round
// meets the machine in the same state, and gives the median of each side in
// seconds. Each side returns the seconds of one run. The first `settling`
// rounds are run and not counted.
std::vector<double> InterleavedMedians(const std::vector<std::function<double()>>& sides,
                                       int rounds, int settling = 1);

// Seconds one call of `work` takes, timed by the steady clock.
double SecondsOf(const std::function<void()>& work);
