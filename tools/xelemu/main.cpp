// xelemu: a router controller on a pseudo-terminal, for tests, demos and training.
#include "emuline.h"
#include "wirepacing.h"
#include "xelemulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const kDescription = R"(Router controller emulator.

Loads a configuration file (CTL, LVL, SRC, DST records) to learn its
controllers, levels, sources and destinations, opens a pseudo-terminal and
prints its path as the first line of standard output, then answers the
controller protocol on it. Crosspoints start unrouted, locks open.

Requests: [address]COMMAND + two checksum characters + CR LF. The address is
the controller address in decimal; without it the request goes to address 0,
or to the only controller. Checksum: sum of the character codes mod 256,
sent as '0'+high nibble, '0'+low nibble. A request with a bad checksum, or
for an address no controller has, gets no answer at all.

Answers (long answers carry the checksum, short ones are one character + CR LF):
  Yddd          ddd + status + n x iii. n = the controller's number of levels;
                status = max(2, ceil(n/2)) characters, each '0' + 4 x flag of
                level 2k + flag of level 2k+1; iii = input on level 1..n
                (001.., 000 = none).
  Hddd[iii..]   one iii per level from level 1 (000 = leave as is).
                "G" taken, "L" output locked, "E" out of range.
  WS            one character per output, "1" locked, "0" free.
  LSddd         toggles the output's lock: "G" (or "E").
  KCI           K*E*D*name,address,levels
  KQLEV KQDST KQSRC KQRTY KQSTL
                one record per answer: K*M*D*(record) while more follow, the
                last one K*E*D*(record); no records: K*E*N. "KQ" fetches the
                next answer of the current query. Records:
                  (LEV,name,level)
                  (DST,name,number,f1,..,fn)  fi = number on level i, empty
                  (SRC,name,number,f1,..,fn)  where absent or numbered apart
                  (RTY,name,source number,destination number) for a name that
                      is a source and a destination on every level
                  (STL,source,level) for a level where a source has another
                      number than its first one
  QSR           repeats the last answer.
  anything else "E".

Control commands on standard input or the control socket (one per line,
"help" lists them; "reopen" answers with the new path):
  fault KIND [COUNT] [MS], rate KIND P, fault clear, route ADDR LEVEL OUT IN,
  lock ADDR OUT on|off|toggle, flag ADDR LEVEL OUT on|off, preset diagonal|clear,
  dump, info, hangup, reopen, quit.
Faults: silence (no answer), badsum (the answer with a wrong checksum; short
answers grow one), garbage (random text and a wrong checksum), partial (the
first half of the answer, no line end), slow (the answer after --slow-ms),
hangup (the pseudo-terminal is closed; "reopen" opens a new one, and moves
the COM<n> link to it). "reopen" also helps when a panel died holding the line
in exclusive use, which a pseudo-terminal keeps until its master closes.
The per-level status flag of a Y answer is 0 unless set with "flag".
Wire numbers have three digits: outputs and inputs past 999 are unreachable.)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xelemu"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("config"), QStringLiteral("Configuration file describing the router."));
    const QCommandLineOption settingsOpt(QStringLiteral("settings"),
        QStringLiteral("Pace answers at this line rate, e.g. 9600,N,8,2."), QStringLiteral("baud,parity,data,stop"));
    const QCommandLineOption deviceDirOpt(QStringLiteral("device-dir"),
        QStringLiteral("Place a link COM<n> to the pseudo-terminal in this folder."), QStringLiteral("dir"));
    const QCommandLineOption comOpt(QStringLiteral("com"),
        QStringLiteral("Port number n for --device-dir (default 1)."), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
        QStringLiteral("Give answers this fault with probability P (repeatable)."), QStringLiteral("kind=P"));
    const QCommandLineOption seedOpt(
        QStringLiteral("seed"), QStringLiteral("Seed of the fault draws."), QStringLiteral("n"));
    const QCommandLineOption slowOpt(
        QStringLiteral("slow-ms"), QStringLiteral("Delay of a slow answer (default 2500)."), QStringLiteral("ms"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
        QStringLiteral("Append the command log to this file instead of standard error."), QStringLiteral("file"));
    const QCommandLineOption diagonalOpt(
        QStringLiteral("diagonal"), QStringLiteral("Start with every output routed from the same-numbered input."));
    const QCommandLineOption noStdinOpt(
        QStringLiteral("no-console"), QStringLiteral("Do not read control commands from standard input."));
    const QCommandLineOption socketOpt(QStringLiteral("control-socket"),
        QStringLiteral("Also take control commands on this Unix socket (socat - UNIX-CONNECT:path)."),
        QStringLiteral("path"));
    parser.addOptions(
        { settingsOpt, deviceDirOpt, comOpt, faultOpt, seedOpt, slowOpt, logOpt, diagonalOpt, noStdinOpt, socketOpt });
    parser.process(app);

    auto fail = [](const QString &why) {
        fprintf(stderr, "xelemu: %s\n", why.toLocal8Bit().constData());
        return 2;
    };
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("give one configuration file (see --help)"));

    exel::StatandConfig model;
    QString error;
    if (!exel::XelEmulator::loadModel(parser.positionalArguments().first(), model, error))
        return fail(error.replace(QLatin1Char('\n'), QLatin1Char(' ')));
    if (model.controllerCount() == 0)
        return fail(QStringLiteral("the configuration describes no controller"));
    exel::XelEmulator emulator(model);

    exel::EmuLineOptions options;
    if (parser.isSet(settingsOpt)) {
        exel::WireSettings ws;
        if (!exel::parseWireSettings(parser.value(settingsOpt), ws, error))
            return fail(error);
        options.pacing = ws;
    }
    if (parser.isSet(deviceDirOpt)) {
        bool ok = false;
        options.deviceDir = parser.value(deviceDirOpt);
        options.comNumber = parser.value(comOpt).toInt(&ok);
        if (!ok || options.comNumber < 1 || options.comNumber > 255)
            return fail(QStringLiteral("--com takes a port number from 1 to 255"));
    }
    for (const QString &rule : parser.values(faultOpt)) {
        const qsizetype eq = rule.indexOf(QLatin1Char('='));
        exel::EmuFault f;
        bool ok = false;
        const double p = eq > 0 ? rule.mid(eq + 1).toDouble(&ok) : 0.0;
        if (eq <= 0 || !exel::emuFaultFromName(rule.left(eq), f) || !ok || p < 0.0 || p > 1.0)
            return fail(QStringLiteral(
                "--fault takes kind=P, kind one of silence, badsum, garbage, partial, slow, hangup and P from 0 to 1"));
        emulator.setFaultRate(f, p);
    }
    if (parser.isSet(seedOpt))
        emulator.setSeed(parser.value(seedOpt).toUInt());
    if (parser.isSet(slowOpt)) {
        bool ok = false;
        const int ms = parser.value(slowOpt).toInt(&ok);
        if (!ok || ms < 0)
            return fail(QStringLiteral("--slow-ms takes a number of milliseconds"));
        emulator.setSlowDelayMs(ms);
    }
    if (parser.isSet(diagonalOpt))
        emulator.presetDiagonal();
    FILE *logFile = nullptr;
    if (parser.isSet(logOpt)) {
        logFile = fopen(parser.value(logOpt).toLocal8Bit().constData(), "a");
        if (!logFile)
            return fail(QStringLiteral("cannot open the log file %1").arg(parser.value(logOpt)));
        options.log = logFile;
    }
    options.readStdin = !parser.isSet(noStdinOpt);
    options.controlSocket = parser.value(socketOpt);
    const int rc = exel::runEmulatorLine(emulator, options);
    if (logFile)
        fclose(logFile);
    return rc;
}
