// The hub's log: one line per event to standard error (journald keeps it when
// the hub runs as a service). Tests replace the sink to read the lines.
#pragma once

#include <QString>

#include <functional>

namespace exel::hub {

using LogSink = std::function<void(const QString &line)>;

void hubLog(const QString &line);
// Replaces the sink (an empty one restores standard error); returns the old one.
LogSink setLogSink(LogSink sink);

} // namespace exel::hub
