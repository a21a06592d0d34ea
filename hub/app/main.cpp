// xelhub: the router hub. One service owns each controller line and serves
// the router to any number of panels; every take is journaled.
#include "hubconfig.h"
#include "hublog.h"
#include "hubservice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include "operators.h"

#include <termios.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace exel::hub;

namespace {

const char *const kUsage = R"(Usage:
  xelhub --config FILE        run the hub
  xelhub journal --config FILE [--since T] [--destination NAME] [--limit N]
                              print the take journal (T: 2024-05-01T10:00,
                              or 30m, 2h, 7d back from now, or ms since 1970)
  xelhub passwd [NAME]        read a password (twice) from standard input and
                              print the [operator NAME] lines for it
  xelhub --help               this text and every configuration key

The configuration is one INI file. A key or value that is not accepted stops
the start with the file, line and reason. Keys, with their defaults:

)";

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char c = 1;
    (void)!::write(g_signalPipe[1], &c, 1);
}

void print(const QString &text)
{
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
}

bool parseSince(const QString &text, int64_t &out)
{
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (text.isEmpty()) {
        out = 0;
        return true;
    }
    const QChar unit = text.back();
    bool ok = false;
    const int64_t n = text.left(text.size() - 1).toLongLong(&ok);
    if (ok && n >= 0) {
        const int64_t scale = unit == u'm' ? 60000 : unit == u'h' ? 3600000 : unit == u'd' ? 86400000 : 0;
        if (scale > 0) {
            out = now - n * scale;
            return true;
        }
    }
    const int64_t ms = text.toLongLong(&ok);
    if (ok && ms >= 0) {
        out = ms;
        return true;
    }
    const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (t.isValid()) {
        out = t.toMSecsSinceEpoch();
        return true;
    }
    return false;
}

QString when(int64_t ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                  : QStringLiteral("-");
}

int runJournal(const QStringList &args)
{
    QString configPath;
    QString since;
    QString destination;
    int limit = 1000;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QLatin1String("--config") && !next.isEmpty()) {
            configPath = next;
            ++i;
        } else if (a == QLatin1String("--since") && !next.isEmpty()) {
            since = next;
            ++i;
        } else if (a == QLatin1String("--destination") && !next.isEmpty()) {
            destination = next;
            ++i;
        } else if (a == QLatin1String("--limit") && !next.isEmpty()) {
            limit = next.toInt();
            ++i;
        } else {
            std::fprintf(stderr, "xelhub journal: unknown argument %s\n%s", qPrintable(a), kUsage);
            return 2;
        }
    }
    if (configPath.isEmpty()) {
        std::fprintf(stderr, "xelhub journal: --config FILE is needed to find the data folder\n");
        return 2;
    }
    HubConfig config;
    ConfigProblem problem;
    if (!readHubConfig(configPath, config, problem)) {
        std::fprintf(stderr, "xelhub: %s\n", qPrintable(problem.text()));
        return 2;
    }
    int64_t sinceMs = 0;
    if (!parseSince(since, sinceMs)) {
        std::fprintf(stderr, "xelhub journal: --since %s is not a time\n", qPrintable(since));
        return 2;
    }
    Journal journal;
    QString error;
    if (!journal.openForReading(config.dataFolder(), &error)) {
        std::fprintf(stderr, "xelhub journal: %s\n", qPrintable(error));
        return 1;
    }
    for (const JournalEntry &e : journal.list(sinceMs, destination, limit)) {
        QString origin = e.origin.server + QLatin1Char(' ') + e.origin.address;
        if (!e.origin.name.isEmpty())
            origin += QStringLiteral(" (") + e.origin.name + QLatin1Char(')');
        QString previous;
        if (e.kind == JournalEntry::Kind::Take && !e.previous.empty())
            previous = QStringLiteral(" replaced ") + encodeLevels(e.previous);
        print(QStringLiteral("%1 %2 %3 %4 %5 [%6] from %7%8%9%10\n")
                  .arg(e.id)
                  .arg(when(e.queuedAt),
                      e.kind == JournalEntry::Kind::Lock ? QStringLiteral("lock") : QStringLiteral("take"),
                      entryStateName(e.state), e.summary, encodeLevels(e.inputs), origin, previous,
                      e.reply.isEmpty() ? QString() : QStringLiteral(" reply ") + e.reply,
                      (e.note.isEmpty() ? QString() : QStringLiteral(" - ") + e.note)
                          + (e.interrupted ? QStringLiteral(" [interrupted]") : QString())));
    }
    return 0;
}

QString readSecret(const char *prompt)
{
    // No echo on a terminal; a pipe (scripts) is read as it is.
    const bool tty = ::isatty(0);
    termios old {};
    if (tty) {
        std::fprintf(stderr, "%s", prompt);
        ::tcgetattr(0, &old);
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(0, TCSANOW, &quiet);
    }
    char buf[1024];
    const bool got = std::fgets(buf, sizeof buf, stdin) != nullptr;
    if (tty) {
        ::tcsetattr(0, TCSANOW, &old);
        std::fprintf(stderr, "\n");
    }
    QString s = got ? QString::fromUtf8(buf) : QString();
    while (s.endsWith(QLatin1Char('\n')) || s.endsWith(QLatin1Char('\r')))
        s.chop(1);
    return s;
}

int runPasswd(const QStringList &args)
{
    const QString name = args.value(0, QStringLiteral("NAME"));
    const QString first = readSecret("Password: ");
    const QString again = ::isatty(0) ? readSecret("Again: ") : first;
    if (first.isEmpty() || first != again) {
        std::fprintf(stderr, "xelhub passwd: %s\n", first.isEmpty() ? "empty password" : "the two differ");
        return 2;
    }
    print(QStringLiteral("[operator %1]\npassword = %2\nrole = operator\n").arg(name, hashPassword(first)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Qt's own event loop rather than GLib's: the hub wakes for every byte
    // of its lines and every client request, and GLib's dispatch costs more
    // per wake-up (in processor time and in answer latency). Nothing in the
    // hub needs a GLib main context. An explicit setting is kept.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // No display is needed: a core application, no window system at all.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xelhub"));
    QStringList args = QCoreApplication::arguments().mid(1);

    if (args.isEmpty() || args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        print(QString::fromUtf8(kUsage) + hubConfigHelp());
        return args.isEmpty() ? 2 : 0;
    }
    if (args.front() == QLatin1String("journal"))
        return runJournal(args.mid(1));
    if (args.front() == QLatin1String("passwd"))
        return runPasswd(args.mid(1));
    if (args.size() != 2 || args[0] != QLatin1String("--config")) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    HubConfig config;
    ConfigProblem problem;
    if (!readHubConfig(args[1], config, problem)) {
        hubLog(QStringLiteral("xelhub: ") + problem.text());
        return 2;
    }

    if (::pipe(g_signalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    QSocketNotifier stopper(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, [&stopper] {
        char c = 0;
        (void)!::read(g_signalPipe[0], &c, 1);
        stopper.setEnabled(false);
        hubLog(QStringLiteral("xelhub: stopping"));
        QCoreApplication::quit();
    });

    HubService hub;
    QString error;
    if (!hub.start(config, &error)) {
        hubLog(QStringLiteral("xelhub: ") + error);
        return 1;
    }
    const int rc = QCoreApplication::exec();
    hub.stop();
    return rc;
}
