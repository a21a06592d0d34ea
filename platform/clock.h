// Monotonic millisecond clock, replaceable so that time-outs are tested
// without sleeping.
#pragma once

#include <cstdint>

namespace exel {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes backwards.
    virtual int64_t nowMs() const = 0;
};

class SystemClock : public Clock {
public:
    int64_t nowMs() const override;
    static SystemClock &instance();
};

// A clock that moves only when told to.
class FakeClock : public Clock {
public:
    int64_t nowMs() const override { return m_now; }
    void advance(int64_t ms) { m_now += ms; }
    void set(int64_t ms) { m_now = ms; }

private:
    int64_t m_now = 1000;
};

} // namespace exel
