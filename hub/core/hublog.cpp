// The hub's log sink.
#include "hublog.h"

#include <cstdio>

namespace exel::hub {

namespace {
LogSink &sink()
{
    static LogSink s;
    return s;
}
} // namespace

void hubLog(const QString &line)
{
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray text = line.toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}

LogSink setLogSink(LogSink s)
{
    LogSink old = std::move(sink());
    sink() = std::move(s);
    return old;
}

} // namespace exel::hub
