// Text files through plain POSIX calls, so that every failure carries its errno.
#include "textfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exel {

bool readTextView(const QString &path, QString &text, std::vector<QStringView> &lines, ErrorInfo &error)
{
    text.clear();
    lines.clear();
    error = ErrorInfo{};
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) {
        error = errorFromErrno(ENOENT);
        return false;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errorFromErrno(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = errorFromErrno(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return false;
    }
    QByteArray data;
    if (S_ISREG(st.st_mode) && st.st_size > 0)
        data.reserve(static_cast<qsizetype>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errorFromErrno(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(buf, n);
    }
    ::close(fd);

    // One conversion of the whole file, then the lines as views into it: no
    // string per line.
    text = QString::fromLatin1(data);
    const QChar *p = text.constData();
    const qsizetype size = text.size();
    lines.reserve(static_cast<size_t>(size / 24 + 1));
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\r' || c == u'\n') {
            lines.emplace_back(p + start, i - start);
            if (c == u'\r' && i + 1 < size && p[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < size)
        lines.emplace_back(p + start, size - start);
    return true;
}

bool readTextLines(const QString &path, QStringList &lines, ErrorInfo &error)
{
    lines.clear();
    QString text;
    std::vector<QStringView> views;
    if (!readTextView(path, text, views, error))
        return false;
    lines.reserve(static_cast<qsizetype>(views.size()));
    for (QStringView v : views)
        lines.append(v.toString());
    return true;
}

bool writeFileAtomic(const QString &path, const QByteArray &data, ErrorInfo &error)
{
    error = ErrorInfo{};
    const QByteArray name = QFile::encodeName(path);
    QByteArray tmpl = name + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        error = errorFromErrno(errno);
        return false;
    }
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errorFromErrno(errno);
            ::close(fd);
            ::unlink(tmpl.constData());
            return false;
        }
        p += n;
        left -= n;
    }
    // mkstemp creates the file 0600; a configuration or salvo is an ordinary
    // document, so give it the usual permissions under the user's umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = errorFromErrno(errno);
        ::unlink(tmpl.constData());
        return false;
    }
    if (::rename(tmpl.constData(), name.constData()) != 0) {
        error = errorFromErrno(errno);
        ::unlink(tmpl.constData());
        return false;
    }
    return true;
}

QByteArray crlfText(const QStringList &lines)
{
    QByteArray out;
    qsizetype total = 0;
    for (const QString &l : lines)
        total += l.size() + 2;
    out.reserve(total);
    for (const QString &l : lines) {
        out.append(l.toLatin1());
        out.append("\r\n", 2);
    }
    return out;
}

} // namespace exel
