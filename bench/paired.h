// A figure timed against its floor (what it must cost at the least) in rounds: each round runs
// both sides back to back, the side that goes first alternating, and keeps each side's time per
// operation and their ratio. This machine is shared and noisy; a slow spell lengthens both halves
// of a round alike, and the medians over the rounds leave the odd preempted one out.
//
// Shared by the Google Benchmark suites and the Windows harness, which has no Google Benchmark.
#ifndef TEV_BENCH_PAIRED_H
#define TEV_BENCH_PAIRED_H

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// `Clock` gives nanoseconds; each side runs `operations` operations per round.
template <typename Clock>
class PairedRounds {
public:
    PairedRounds(Clock clock, double operations) : clock_(clock), operations_(operations) {}

    template <typename Subject, typename Floor>
    void Round(Subject&& subject, Floor&& floor) {
        double start = clock_();
        subjectFirst_ ? subject() : floor();
        double middle = clock_();
        subjectFirst_ ? floor() : subject();
        double end = clock_();
        double first = (middle - start) / operations_, second = (end - middle) / operations_;
        subject_.push_back(subjectFirst_ ? first : second);
        floor_.push_back(subjectFirst_ ? second : first);
        if (floor_.back() > 0) ratios_.push_back(subject_.back() / floor_.back());
        subjectFirst_ = !subjectFirst_;
    }

    double Subject() const { return Median(subject_); }
    double Floor() const { return Median(floor_); }
    double Ratio() const { return Median(ratios_); }

private:
    Clock clock_;
    double operations_;
    // Shared by every measurement, so that one of a single round does not always go first.
    static inline bool subjectFirst_ = true;
    std::vector<double> subject_, floor_, ratios_;
};

}  // namespace bench

#endif
