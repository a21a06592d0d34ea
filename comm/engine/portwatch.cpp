// The diagnostic log: a 16-byte header and records appended at its end offset.
#include "portwatch.h"

#include <QDir>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolcom::portwatch {
namespace {

std::atomic<int32_t> g_switches { 0 };
std::mutex g_mutex;

void putLe(std::string &out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

uint32_t getLe32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool writeAll(int fd, const std::string &bytes, off_t offset)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

uint32_t msSinceFirstRecord()
{
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return uint32_t(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

} // namespace

void setSwitches(int32_t flags)
{
    g_switches = flags;
}

int32_t switches()
{
    return g_switches;
}

std::string logPath()
{
    QString dir = qEnvironmentVariable("TOLCOM_LOG_DIR");
    if (dir.isEmpty())
        dir = qEnvironmentVariable("XDG_STATE_HOME");
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/state");
    return (dir + QStringLiteral("/portwatch.log")).toStdString();
}

void write(Kind kind, std::string_view objectName, std::string_view text, std::string_view data)
{
    std::lock_guard lock(g_mutex);
    const uint32_t ms = msSinceFirstRecord();
    const std::string path = logPath();
    QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // Other processes append to the same file.
    flock(fd, LOCK_EX);
    unsigned char header[kHeaderSize] {};
    const ssize_t got = pread(fd, header, sizeof header, 0);
    uint32_t end = kHeaderSize;
    bool ok = true;
    if (got == 0) {
        end = kHeaderSize;
    } else if (got != ssize_t(sizeof header) || getLe32(header) != kMagic) {
        ok = false; // not our file: leave it alone
    } else {
        end = getLe32(header + 12);
        struct stat st { };
        if (end < kHeaderSize || (fstat(fd, &st) == 0 && off_t(end) > st.st_size))
            ok = false; // damaged header: do not write into the unknown
    }
    if (ok) {
        const std::string_view name = objectName.substr(0, std::min<size_t>(objectName.size(), 0xFFFF));
        const std::string_view txt = text.substr(0, std::min<size_t>(text.size(), 0xFFFF));
        std::string rec;
        putLe(rec, kind, 2);
        putLe(rec, ms, 4);
        putLe(rec, name.size(), 2);
        rec.append(name);
        putLe(rec, txt.size(), 2);
        rec.append(txt);
        putLe(rec, data.size(), 4);
        rec.append(data);
        if (uint64_t(end) + rec.size() <= 0xFFFFFFFFull && writeAll(fd, rec, off_t(end))) {
            std::string head;
            putLe(head, kMagic, 4);
            putLe(head, kVersion, 4);
            putLe(head, kHeaderSize, 4);
            putLe(head, end + rec.size(), 4);
            writeAll(fd, head, 0);
        }
    }
    flock(fd, LOCK_UN);
    ::close(fd);
}

void hexDump(std::string_view objectName, std::string_view label, const char *bytes, size_t len)
{
    char head[64];
    std::snprintf(head, sizeof head, "%.*s: %d bytes ", int(label.size()), label.data(), int(len));
    std::string text = head;
    std::string data;
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < len; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text += digits[b >> 4];
        text += digits[b & 15];
        text += ' ';
        data += char(b);
        if (text.size() >= 50) {
            write(Dump, objectName, text, data);
            text.clear();
            data.clear();
        }
    }
    if (!text.empty())
        write(Dump, objectName, text, data);
}

} // namespace tolcom::portwatch
