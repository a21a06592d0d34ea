// Small helpers the benchmarks share: the machine's load average (printed
// before and after each run, so a figure taken under load says so), medians,
// and runs of a product and its floor interleaved A, B, A, B ... so that load
// from elsewhere on the machine hits both alike.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace benchkit {

// The first three fields of /proc/loadavg ("0.02 0.05 0.01"), or "?" when unreadable.
inline std::string loadAverage()
{
    std::FILE *f = std::fopen("/proc/loadavg", "r");
    if (!f)
        return "?";
    double a = 0, b = 0, c = 0;
    const int n = std::fscanf(f, "%lf %lf %lf", &a, &b, &c);
    std::fclose(f);
    if (n != 3)
        return "?";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", a, b, c);
    return buf;
}

inline void printLoad(const char *when)
{
    std::printf("load average %s: %s\n", when, loadAverage().c_str());
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double msOf(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

struct Pair {
    double product = 0; // median, ms
    double floor = 0; // median, ms
    double ratio() const { return floor > 0 ? product / floor : 0; }
};

// Runs product and floor `runs` times each, alternating which goes first.
// A product run that returns false stops the measurement (ok set false).
// Runs a then b on even turns and b then a on odd ones, so that load from
// elsewhere hits both alike.
template <class A, class B> void alternate(int turn, A &&a, B &&b)
{
    if (turn % 2 == 0) {
        a();
        b();
    } else {
        b();
        a();
    }
}

inline Pair interleaved(int runs, const std::function<bool()> &product, const std::function<void()> &floor, bool &ok)
{
    std::vector<double> p, f;
    ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        auto runProduct = [&] { p.push_back(msOf([&] { ok = product() && ok; })); };
        auto runFloor = [&] { f.push_back(msOf(floor)); };
        alternate(i, runProduct, runFloor);
    }
    return Pair { median(p), median(f) };
}

} // namespace benchkit
