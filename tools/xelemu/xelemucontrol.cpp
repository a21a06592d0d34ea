// The controller emulator's run-time control commands and its views of the
// router: changes "as if by another panel", faults, dumps.
#include "xelemulator.h"

namespace exel {

namespace {

const char *const kHelp[] = {
    "fault KIND [COUNT] [MS]  next COUNT answers (default 1) get the fault; KIND is",
    "                         silence, badsum, garbage, partial, slow (MS: delay) or hangup",
    "rate KIND P              each answer gets the fault with probability P (0..1)",
    "fault clear              no more faults, rates back to 0",
    "route ADDR LEVEL OUTPUT INPUT   set a crosspoint (1-based; INPUT 0 = none)",
    "lock ADDR OUTPUT on|off|toggle  set an output's lock",
    "flag ADDR LEVEL OUTPUT on|off   set the status flag reported for a crosspoint",
    "preset diagonal|clear    route every output from the same-numbered input, or clear all",
    "dump                     routed/flagged crosspoints (X addr level output input flag), locks (L addr output), END",
    "info                     controllers and levels",
    "hangup                   close the line (the panel sees the port hang up)",
    "reopen                   open a new pseudo-terminal after a hang-up",
    "quit                     stop",
};

bool toInt(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

} // namespace

EmuControlResult XelEmulator::control(const QString &line)
{
    EmuControlResult r;
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto err = [&r](const QString &why) {
        r.lines << QStringLiteral("ERR ") + why;
        return r;
    };
    auto ok = [&r](const QString &what = QString()) {
        r.lines << (what.isEmpty() ? QStringLiteral("OK") : QStringLiteral("OK ") + what);
        return r;
    };
    if (w.isEmpty())
        return r;
    const QString cmd = w[0].toLower();
    int a = 0, b = 0, c = 0, d = 0;

    if (cmd == QLatin1String("help")) {
        for (const char *h : kHelp)
            r.lines << QString::fromLatin1(h);
        return ok();
    }
    if (cmd == QLatin1String("fault")) {
        if (w.size() == 2 && w[1].compare(QLatin1String("clear"), Qt::CaseInsensitive) == 0) {
            clearFaults();
            return ok(QStringLiteral("faults cleared"));
        }
        EmuFault f;
        if (w.size() < 2 || !emuFaultFromName(w[1], f))
            return err(
                QStringLiteral("fault KIND [COUNT] [MS]; KIND is silence, badsum, garbage, partial, slow or hangup"));
        int count = 1;
        if (w.size() >= 3 && (!toInt(w[2], count) || count < 0))
            return err(QStringLiteral("COUNT must be 0 or more"));
        if (w.size() >= 4) {
            int ms = 0;
            if (!toInt(w[3], ms) || ms < 0)
                return err(QStringLiteral("MS must be 0 or more"));
            m_slowMs = ms;
        }
        injectFault(f, count);
        return ok(QStringLiteral("%1 on the next %2 answer(s)").arg(emuFaultName(f)).arg(count));
    }
    if (cmd == QLatin1String("rate")) {
        EmuFault f;
        bool good = false;
        const double p = w.size() == 3 ? w[2].toDouble(&good) : 0.0;
        if (w.size() != 3 || !emuFaultFromName(w[1], f) || !good || p < 0.0 || p > 1.0)
            return err(QStringLiteral("rate KIND P, with P from 0 to 1"));
        setFaultRate(f, p);
        return ok();
    }
    if (cmd == QLatin1String("route")) {
        if (w.size() != 5 || !toInt(w[1], a) || !toInt(w[2], b) || !toInt(w[3], c) || !toInt(w[4], d))
            return err(QStringLiteral("route ADDR LEVEL OUTPUT INPUT"));
        if (!setCrosspoint(a, b, c, d))
            return err(QStringLiteral("no such controller, level, output or input"));
        return ok();
    }
    if (cmd == QLatin1String("flag")) {
        const QString state = w.size() == 5 ? w[4].toLower() : QString();
        if (w.size() != 5 || !toInt(w[1], a) || !toInt(w[2], b) || !toInt(w[3], c)
            || (state != QLatin1String("on") && state != QLatin1String("off")))
            return err(QStringLiteral("flag ADDR LEVEL OUTPUT on|off"));
        if (!setFlag(a, b, c, state == QLatin1String("on")))
            return err(QStringLiteral("no such controller, level or output"));
        return ok();
    }
    if (cmd == QLatin1String("lock")) {
        const QString state = w.size() == 4 ? w[3].toLower() : QString();
        if (w.size() != 4 || !toInt(w[1], a) || !toInt(w[2], b)
            || (state != QLatin1String("on") && state != QLatin1String("off") && state != QLatin1String("toggle")))
            return err(QStringLiteral("lock ADDR OUTPUT on|off|toggle"));
        const bool target = state == QLatin1String("toggle") ? !locked(a, b) : state == QLatin1String("on");
        if (!setLock(a, b, target))
            return err(QStringLiteral("no such controller or output"));
        return ok(target ? QStringLiteral("locked") : QStringLiteral("unlocked"));
    }
    if (cmd == QLatin1String("preset")) {
        const QString how = w.size() == 2 ? w[1].toLower() : QString();
        if (how == QLatin1String("diagonal"))
            presetDiagonal();
        else if (how == QLatin1String("clear"))
            clearRoutes();
        else
            return err(QStringLiteral("preset diagonal|clear"));
        return ok();
    }
    if (cmd == QLatin1String("dump")) {
        r.lines << dump();
        return r;
    }
    if (cmd == QLatin1String("info")) {
        r.lines << summary();
        return ok();
    }
    if (cmd == QLatin1String("hangup")) {
        r.action = EmuControlResult::Action::Hangup;
        return ok(QStringLiteral("hanging up"));
    }
    if (cmd == QLatin1String("reopen")) {
        r.action = EmuControlResult::Action::Reopen;
        return ok(QStringLiteral("reopening"));
    }
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        r.action = EmuControlResult::Action::Quit;
        return ok(QStringLiteral("bye"));
    }
    return err(QStringLiteral("unknown command \"%1\" (try help)").arg(w[0]));
}

bool XelEmulator::setCrosspoint(int address, int level, int output, int input)
{
    LevelTable *t = levelAt(address, level, output);
    // The status answer carries three digits per input, so nothing above 999 can be routed.
    if (!t || input < 0 || input > t->inputs || input > 999)
        return false;
    t->input[static_cast<size_t>(output - 1)] = static_cast<int16_t>(input);
    return true;
}

int XelEmulator::crosspoint(int address, int level, int output) const
{
    const LevelTable *t = const_cast<XelEmulator *>(this)->levelAt(address, level, output);
    return t ? t->input[static_cast<size_t>(output - 1)] : -1;
}

bool XelEmulator::setFlag(int address, int level, int output, bool on)
{
    LevelTable *t = levelAt(address, level, output);
    if (!t)
        return false;
    t->flag[static_cast<size_t>(output - 1)] = on;
    return true;
}

bool XelEmulator::setLock(int address, int output, bool isLocked)
{
    Controller *c = findController(address);
    if (!c || output < 1 || output > c->outputs)
        return false;
    c->locks[static_cast<size_t>(output - 1)] = isLocked;
    return true;
}

bool XelEmulator::locked(int address, int output) const
{
    const Controller *c = findController(address);
    if (!c || output < 1 || output > c->outputs)
        return false;
    return c->locks[static_cast<size_t>(output - 1)];
}

void XelEmulator::presetDiagonal()
{
    for (Controller &c : m_controllers) {
        for (LevelTable &t : c.levels) {
            for (int o = 1; o <= t.outputs; ++o)
                t.input[static_cast<size_t>(o - 1)] = static_cast<int16_t>(o <= t.inputs && o <= 999 ? o : 0);
        }
    }
}

void XelEmulator::clearRoutes()
{
    for (Controller &c : m_controllers) {
        for (LevelTable &t : c.levels)
            std::fill(t.input.begin(), t.input.end(), 0);
    }
}

QStringList XelEmulator::dump() const
{
    QStringList out;
    for (const Controller &c : m_controllers) {
        for (size_t l = 0; l < c.levels.size(); ++l) {
            const LevelTable &t = c.levels[l];
            for (int o = 0; o < t.outputs; ++o) {
                const size_t k = static_cast<size_t>(o);
                if (t.input[k] != 0 || t.flag[k])
                    out << QStringLiteral("X %1 %2 %3 %4 %5")
                               .arg(c.address)
                               .arg(l + 1)
                               .arg(o + 1)
                               .arg(t.input[k])
                               .arg(t.flag[k] ? 1 : 0);
            }
        }
    }
    for (const Controller &c : m_controllers) {
        for (size_t o = 0; o < c.locks.size(); ++o) {
            if (c.locks[o])
                out << QStringLiteral("L %1 %2").arg(c.address).arg(o + 1);
        }
    }
    out << QStringLiteral("END");
    return out;
}

QStringList XelEmulator::summary() const
{
    QStringList out;
    for (const Controller &c : m_controllers) {
        out << QStringLiteral("controller %1 at address %2: %3 level(s), %4 output(s), %5 source(s), %6 destination(s)")
                   .arg(c.name)
                   .arg(c.address)
                   .arg(c.levels.size())
                   .arg(c.outputs)
                   .arg(c.sources.size())
                   .arg(c.destinations.size());
        for (size_t l = 0; l < c.levels.size(); ++l) {
            const LevelTable &t = c.levels[l];
            if (t.defined)
                out << QStringLiteral("  level %1 %2: %3 inputs, %4 outputs")
                           .arg(l + 1)
                           .arg(t.name)
                           .arg(t.inputs)
                           .arg(t.outputs);
            else
                out << QStringLiteral("  level %1: not described (reported as unrouted)").arg(l + 1);
        }
    }
    return out;
}

} // namespace exel
