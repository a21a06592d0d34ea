// The bracket around work that must not interleave with status polling: takes,
// lock changes, dialling and settings stop Timer1 and start it again.
#pragma once

namespace exel {

class PollingGate {
public:
    virtual ~PollingGate() = default;
    // Stops polling; false (and nothing stopped) while a Timer1 tick runs.
    virtual bool TurnOffTimer() = 0;
    // Resets the poll cursors and starts polling again.
    virtual void TurnOnTimer() = 0;
};

} // namespace exel
