#include "interleaved.h"

#include <algorithm>
#include <chrono>

std::vector<double> InterleavedMedians(const std::vector<std::function<double()>>& sides,
                                       int rounds, int settling)
{
    std::vector<std::vector<double>> times(sides.size());
    for (int round = 0; round < settling + rounds; ++round)
        for (std::size_t side = 0; side < sides.size(); ++side) {
            const double seconds = sides[side]();
            if (round >= settling)
                times[side].push_back(seconds);
        }
    std::vector<double> medians;
    for (std::vector<double>& t : times) {
        std::sort(t.begin(), t.end());
        const std::size_t n = t.size();
        medians.push_back(n == 0 ? 0.0 : n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2);
    }
    return medians;
}

double SecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
