// A scripted serial driver for tests: modem lines, ring, break, line errors,
// queue counts and what was written, with an optional peer that answers writes.
#pragma once

#include "serialdriver.h"

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tolcom {

// State shared between a test and the fake driver the engine owns.
struct FakePort {
    std::set<std::string> openable; // paths that open; empty = every path
    std::map<std::string, int> openErrors; // paths that exist but fail with this errno
    std::vector<std::string> openAttempts;
    bool open = false;
    std::string received; // bytes waiting to be read by the engine
    std::string written; // every byte the engine wrote
    uint32_t lines = 0; // modem-line word (kLine* bits)
    bool hasLines = true;
    uint32_t errors = 0; // pending kErr* flags
    int outQueue = 0;
    bool dtr = false, rts = false, brk = false;
    bool failWrites = false;
    bool hungUp = false;
    int purges = 0;
    DeviceState state;
    int setStateCalls = 0;
    // Called after every write with the bytes written (a modem emulator, say).
    std::function<void(const std::string &)> onWrite;
    // Called when DTR changes.
    std::function<void(bool)> onDtr;
};

// Factory for setDriverFactory: every new driver shares port.
DriverFactory fakeDriverFactory(std::shared_ptr<FakePort> port);

} // namespace tolcom
