#include "measure/GraphModel.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

using namespace tarvo;

namespace {

// What the envelope must answer: the points one by one while their time is before the edge.
struct Walk {
    std::size_t end;
    double low, high;
};

Walk walk(const PointSeries& s, std::size_t from, std::size_t to, double edge) {
    Walk w{from, HUGE_VAL, -HUGE_VAL};
    to = std::min(to, s.size());
    for (; w.end < to && s[w.end].time < edge; ++w.end) {
        const double v = s[w.end].value;
        if (!std::isnan(v)) {
            w.low = std::min(w.low, v);
            w.high = std::max(w.high, v);
        }
    }
    return w;
}

// Many runs of the series, of every length, starting anywhere and ending at edges in and between its
// times, against the walk.
void expectTheWalk(const PointSeries& s, std::mt19937& random, const char* what) {
    SCOPED_TRACE(what);
    if (s.empty())
        return;
    double earliest = s[0].time, latest = s[0].time;
    for (const GraphPoint& p : s)
        if (std::isfinite(p.time)) {
            earliest = std::min(earliest, p.time);
            latest = std::max(latest, p.time);
        }
    std::uniform_int_distribution<std::size_t> index(0, s.size());
    std::uniform_real_distribution<double> between(earliest - 1, latest + 1);
    int mismatches = 0;
    for (int q = 0; q < 500 && mismatches < 5; ++q) {
        std::size_t from = index(random), to = index(random);
        if (from > to)
            std::swap(from, to);
        // Edges: anywhere, on a point's own time, beyond every point.
        const double edge = q % 3 == 0   ? between(random)
                            : q % 3 == 1 ? s[std::min(index(random), s.size() - 1)].time
                                         : HUGE_VAL;
        double low = -7, high = -7;
        const std::size_t end = s.valuesBefore(from, q % 5 == 0 ? s.size() + 10 : to, edge, low, high);
        const Walk w = walk(s, from, q % 5 == 0 ? s.size() : to, edge);
        const bool ok =
            end == w.end && (end == from ? low == -7 && high == -7 : low == w.low && high == w.high);
        if (!ok) {
            ++mismatches;
            ADD_FAILURE() << "from " << from << " to " << to << " edge " << edge << ": end " << end << " low "
                          << low << " high " << high << ", the walk: " << w.end << " " << w.low << " "
                          << w.high;
        }
    }
}

} // namespace

TEST(PointSeriesTest, TheEnvelopeAnswersAsAWalkOverThePoints) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> noise(-500, 500);
    PointSeries s(70000);
    // Evenly spaced, with steps, in lengths that end on, before and after block borders.
    for (const std::size_t n : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 513u, 4095u, 4096u, 4097u, 70000u}) {
        s.clear();
        for (std::size_t i = 0; i < n; ++i)
            s.add(i * 0.5, (i / 1000) % 2 ? 6000 + noise(random) : 1000 + noise(random));
        ASSERT_EQ(s.size(), n);
        expectTheWalk(s, random, "even");
    }
    // Refilled after a clear with other values: nothing of the earlier points may show.
    s.clear();
    for (int i = 0; i < 30000; ++i)
        s.add(i, -noise(random) - 10000);
    expectTheWalk(s, random, "refilled");
    // Gaps, equal times, a time that runs backwards (the live trace starting again at the left).
    s.clear();
    for (int i = 0; i < 40000; ++i) {
        const double t = i < 10000 ? i : i < 20000 ? 30000 + (i / 7) : (i - 20000) * 0.25;
        s.add(t, noise(random));
    }
    expectTheWalk(s, random, "gaps and a wrap");
    // NaN values are left out (a run of them only has no smallest or largest), NaN times stop the walk.
    s.clear();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < 5000; ++i)
        s.add(i == 2500 ? nan : i, i % 64 == 0 || (i >= 1024 && i < 1100) ? nan : noise(random));
    expectTheWalk(s, random, "NaN");
    // Growing while it is read, as a live trace is drawn between the stream's lines: additions of every
    // size, some ending inside a block and some on its border (61 to 64 completes a block of the second
    // level with its last child alone), each followed by reads.
    // After each addition every run from the start (and from inside the first block) is asked for, up to
    // an edge just after each point.
    s.clear();
    for (const int more : {1, 6, 1, 53, 3, 448, 1, 3583, 5000, 17, 20000}) {
        const std::size_t n = s.size();
        for (int i = 0; i < more; ++i)
            s.add(double(n + std::size_t(i)), noise(random));
        for (const std::size_t from : {std::size_t{0}, std::size_t{5}}) {
            double smallest = HUGE_VAL, largest = -HUGE_VAL;
            for (std::size_t last = from; last < s.size(); ++last) {
                smallest = std::min(smallest, s[last].value);
                largest = std::max(largest, s[last].value);
                double low = 0, high = 0;
                const std::size_t end = s.valuesBefore(from, s.size(), s[last].time + 0.5, low, high);
                if (end != last + 1 || low != smallest || high != largest) {
                    ADD_FAILURE() << "grown to " << s.size() << ", from " << from << " to just after " << last
                                  << ": end " << end << " low " << low << " high " << high;
                    break;
                }
            }
        }
        expectTheWalk(s, random, "growing");
    }
    // Full: the point past the capacity is refused, and the full series still answers.
    s.clear();
    for (int i = 0; i < 70000; ++i)
        ASSERT_TRUE(s.add(i, noise(random)));
    EXPECT_FALSE(s.add(70000, 0));
    EXPECT_EQ(s.size(), 70000u);
    expectTheWalk(s, random, "full");
    // Too short for one block.
    PointSeries tiny(5);
    for (int i = 0; i < 5; ++i)
        tiny.add(i, 5 - i);
    expectTheWalk(tiny, random, "tiny");
}
