// The serial driver for a port the port map sends to a network serial server.
#pragma once

#include "portmap.h"
#include "serialdriver.h"

#include <memory>

namespace tolcom {

// open() connects within connectMs (the path it is given is not used).
std::unique_ptr<SerialDriver> makeNetworkDriver(const PortTarget &target, int connectMs = 5000);

} // namespace tolcom
