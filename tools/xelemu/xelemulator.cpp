// The controller emulator's protocol side: request lines in, framed answers out.
#include "xelemulator.h"

#include "configreader.h"
#include "hublinkprotocol.h"

#include <algorithm>

namespace exel {

namespace {

const char *const kFaultNames[kEmuFaultCount] = { "silence", "badsum", "garbage", "partial", "slow", "hangup" };

// Short acknowledgements travel without checksum: one character and the line end.
QString ack(char c)
{
    return QString(QLatin1Char(c)) + QStringLiteral("\r\n");
}

QString three(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

// Exactly `count` decimal digits read as a number, or -1.
int digitsValue(QStringView text, qsizetype from, qsizetype count)
{
    if (from < 0 || from + count > text.size())
        return -1;
    int v = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

QString printable(const QByteArray &bytes)
{
    QString out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F)
            out += QLatin1Char(static_cast<char>(c));
        else
            out += QStringLiteral("<%1>").arg(c, 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

QString emuFaultName(EmuFault fault)
{
    return QString::fromLatin1(kFaultNames[static_cast<int>(fault)]);
}

bool emuFaultFromName(const QString &name, EmuFault &fault)
{
    for (int i = 0; i < kEmuFaultCount; ++i) {
        if (name.compare(QLatin1String(kFaultNames[i]), Qt::CaseInsensitive) == 0) {
            fault = static_cast<EmuFault>(i);
            return true;
        }
    }
    return false;
}

XelEmulator::XelEmulator(const StatandConfig &model)
{
    for (int ci = 0; ci < model.controllerCount(); ++ci) {
        const ControllerRecord &rec = model.controller(ci);
        Controller c;
        c.name = rec.name;
        c.address = rec.address;
        c.levels.resize(static_cast<size_t>(std::max<int>(rec.numLevels, 0)));
        m_controllers.push_back(std::move(c));
    }
    // Model level index -> (controller, controller level), for the item tables below.
    std::vector<std::pair<int, int>> where(static_cast<size_t>(model.levelCount()), { -1, -1 });
    for (int l = 0; l < model.levelCount(); ++l) {
        const LevelRecord &rec = model.level(l);
        for (size_t ci = 0; ci < m_controllers.size(); ++ci) {
            Controller &c = m_controllers[ci];
            if (c.address != rec.controllerAddress || rec.levelNumber < 0
                || rec.levelNumber >= static_cast<int>(c.levels.size()))
                continue;
            LevelTable &t = c.levels[static_cast<size_t>(rec.levelNumber)];
            if (t.defined)
                break; // a second level on the same controller level: the first one rules
            t.defined = true;
            t.name = rec.name;
            t.inputs = rec.numInputs;
            t.outputs = rec.numOutputs;
            t.input.assign(static_cast<size_t>(std::max<int>(rec.numOutputs, 0)), 0);
            t.flag.assign(t.input.size(), false);
            c.outputs = std::max(c.outputs, t.outputs);
            where[static_cast<size_t>(l)] = { static_cast<int>(ci), rec.levelNumber };
            break;
        }
    }
    for (Controller &c : m_controllers)
        c.locks.assign(static_cast<size_t>(c.outputs), false);

    auto collect = [&](bool sources) {
        const int count = sources ? model.sourceCount() : model.destinationCount();
        for (int i = 0; i < count; ++i) {
            std::vector<Item> perController(m_controllers.size());
            std::vector<bool> present(m_controllers.size(), false);
            for (int l = 0; l < model.levelCount(); ++l) {
                const auto [ci, cl] = where[static_cast<size_t>(l)];
                if (ci < 0)
                    continue;
                const int16_t number = sources ? model.SourceNumber(i, l) : model.DestinationNumber(i, l);
                if (number < 0)
                    continue;
                Item &item = perController[static_cast<size_t>(ci)];
                if (item.numbers.empty()) {
                    item.name = sources ? model.SourceName(i) : model.DestinationName(i);
                    item.numbers.assign(m_controllers[static_cast<size_t>(ci)].levels.size(), 0);
                }
                item.numbers[static_cast<size_t>(cl)] = static_cast<int16_t>(number + 1);
                present[static_cast<size_t>(ci)] = true;
            }
            for (size_t ci = 0; ci < m_controllers.size(); ++ci) {
                if (present[ci])
                    (sources ? m_controllers[ci].sources : m_controllers[ci].destinations)
                        .push_back(std::move(perController[ci]));
            }
        }
    };
    collect(true);
    collect(false);
}

bool XelEmulator::loadModel(const QString &path, StatandConfig &model, QString &error)
{
    const ConfigLoadResult r = LoadConfigFile(model, path);
    switch (r.status) {
    case ConfigLoadResult::Status::Loaded:
        return true;
    case ConfigLoadResult::Status::OpenFailed:
        error = configOpenErrorText(path, r.error);
        return false;
    case ConfigLoadResult::Status::BadLine:
        error = configBadLineText(r);
        return false;
    }
    return false;
}

std::vector<EmuReply> XelEmulator::receive(const QByteArray &bytes)
{
    std::vector<EmuReply> replies;
    for (const char ch : bytes) {
        if (ch == '\r' || ch == '\n') {
            if (m_discarding) {
                m_discarding = false;
                m_pending.clear();
                continue;
            }
            if (m_pending.isEmpty())
                continue;
            EmuReply r = handleLine(m_pending);
            m_pending.clear();
            if (!r.bytes.isEmpty() || r.hangup || r.delayMs > 0)
                replies.push_back(std::move(r));
            continue;
        }
        if (m_discarding)
            continue;
        if (m_pending.size() >= kMaxRequestChars) {
            // No request is this long: skip to the next line end instead of growing.
            log(QStringLiteral("rx %1... ignored: longer than %2 characters")
                    .arg(printable(m_pending.left(40)))
                    .arg(kMaxRequestChars));
            m_discarding = true;
            m_pending.clear();
            continue;
        }
        m_pending.append(ch);
    }
    return replies;
}

XelEmulator::Controller *XelEmulator::findController(int address)
{
    for (Controller &c : m_controllers) {
        if (c.address == address)
            return &c;
    }
    return nullptr;
}

const XelEmulator::Controller *XelEmulator::findController(int address) const
{
    return const_cast<XelEmulator *>(this)->findController(address);
}

XelEmulator::Controller *XelEmulator::controllerFor(const QString &prefix, bool hasPrefix)
{
    if (hasPrefix) {
        if (prefix.size() > 5)
            return nullptr;
        return findController(prefix.toInt());
    }
    if (Controller *c = findController(0))
        return c;
    return m_controllers.size() == 1 ? &m_controllers.front() : nullptr;
}

EmuReply XelEmulator::handleLine(const QByteArray &line)
{
    const QString text = QString::fromLatin1(line);
    const QString shown = printable(line);
    if (text.size() < 3) {
        log(QStringLiteral("rx %1 ignored: too short for a command and checksum").arg(shown));
        return {};
    }
    const QString body = text.first(text.size() - 2);
    if (HublinkChecksumChars(body) != text.last(2)) {
        // A controller cannot trust a damaged request: it stays silent and
        // lets the panel's time-out and retry rules take over.
        log(QStringLiteral("rx %1 ignored: bad checksum (expected %2)").arg(shown, HublinkChecksumChars(body)));
        return {};
    }
    qsizetype p = 0;
    while (p < body.size() && body[p] >= u'0' && body[p] <= u'9')
        ++p;
    const QString prefix = body.first(p);
    const QString command = body.sliced(p);

    QString answer;
    if (command == QLatin1String("QSR")) {
        answer = m_hasLastAnswer ? m_lastAnswer : ack('E');
        log(QStringLiteral("rx %1 => repeat").arg(shown));
        return deliver(answer);
    }
    if (command == QLatin1String("KQ")) {
        answer = nextQueryAnswer();
    } else {
        Controller *c = controllerFor(prefix, p > 0);
        if (!c) {
            log(QStringLiteral("rx %1 ignored: no controller at address %2")
                    .arg(shown, p > 0 ? prefix : QStringLiteral("0")));
            return {};
        }
        if (command.startsWith(QLatin1Char('Y')))
            answer = answerStatus(*c, QStringView(command).sliced(1));
        else if (command.startsWith(QLatin1Char('H')))
            answer = answerTake(*c, QStringView(command).sliced(1));
        else if (command == QLatin1String("WS"))
            answer = answerLocks(*c);
        else if (command.startsWith(QLatin1String("LS")))
            answer = answerLockToggle(*c, QStringView(command).sliced(2));
        else if (command == QLatin1String("KCI"))
            answer = answerIdentity(*c);
        else if (command == QLatin1String("KQLEV") || command == QLatin1String("KQDST")
            || command == QLatin1String("KQSRC") || command == QLatin1String("KQRTY")
            || command == QLatin1String("KQSTL"))
            answer = startQuery(*c, command.sliced(2));
        else
            answer = ack('E');
    }
    m_lastAnswer = answer;
    m_hasLastAnswer = true;
    log(QStringLiteral("rx %1 => %2").arg(shown, printable(answer.toLatin1()).remove(QStringLiteral("<0d><0a>"))));
    return deliver(answer);
}

XelEmulator::LevelTable *XelEmulator::levelAt(int address, int level, int output)
{
    Controller *c = findController(address);
    if (!c || level < 1 || level > static_cast<int>(c->levels.size()))
        return nullptr;
    LevelTable &t = c->levels[static_cast<size_t>(level - 1)];
    if (!t.defined || output < 1 || output > t.outputs)
        return nullptr;
    return &t;
}

QString XelEmulator::answerStatus(Controller &c, QStringView args)
{
    const int output = args.size() == 3 ? digitsValue(args, 0, 3) : -1;
    if (output < 1 || output > c.outputs)
        return ack('E');
    const size_t n = c.levels.size();
    const size_t statusChars = std::max<size_t>(2, (n + 1) / 2);
    QString statusPart(static_cast<qsizetype>(statusChars), QLatin1Char('0'));
    QString inputs;
    for (size_t i = 0; i < n; ++i) {
        const LevelTable &t = c.levels[i];
        const bool on = t.defined && output <= t.outputs;
        const int input = on ? t.input[static_cast<size_t>(output - 1)] : 0;
        const bool flag = on && t.flag[static_cast<size_t>(output - 1)];
        if (flag) {
            const qsizetype at = static_cast<qsizetype>(i / 2);
            statusPart[at] = QChar(statusPart[at].unicode() + (i % 2 == 0 ? 4 : 1));
        }
        inputs += three(input);
    }
    return HublinkFrame(three(output) + statusPart + inputs);
}

QString XelEmulator::answerTake(Controller &c, QStringView args)
{
    const int output = digitsValue(args, 0, 3);
    const qsizetype groups = (args.size() - 3) / 3;
    if (output < 1 || output > c.outputs || args.size() < 3 || (args.size() - 3) % 3 != 0
        || groups > static_cast<qsizetype>(c.levels.size()))
        return ack('E');
    std::vector<int> inputs(static_cast<size_t>(groups), 0);
    for (qsizetype g = 0; g < groups; ++g) {
        const int input = digitsValue(args, 3 + 3 * g, 3);
        if (input < 0)
            return ack('E');
        if (input == 0)
            continue;
        const LevelTable &t = c.levels[static_cast<size_t>(g)];
        if (!t.defined || output > t.outputs || input > t.inputs)
            return ack('E');
        inputs[static_cast<size_t>(g)] = input;
    }
    if (c.locks[static_cast<size_t>(output - 1)])
        return ack('L');
    // Checked first, applied after: a take is all or nothing.
    for (qsizetype g = 0; g < groups; ++g) {
        if (inputs[static_cast<size_t>(g)] > 0)
            c.levels[static_cast<size_t>(g)].input[static_cast<size_t>(output - 1)]
                = static_cast<int16_t>(inputs[static_cast<size_t>(g)]);
    }
    return ack('G');
}

QString XelEmulator::answerLocks(const Controller &c) const
{
    QString body;
    body.reserve(static_cast<qsizetype>(c.locks.size()));
    for (const bool l : c.locks)
        body += l ? QLatin1Char('1') : QLatin1Char('0');
    return HublinkFrame(body);
}

QString XelEmulator::answerLockToggle(Controller &c, QStringView args)
{
    const int output = args.size() == 3 ? digitsValue(args, 0, 3) : -1;
    if (output < 1 || output > c.outputs)
        return ack('E');
    const size_t k = static_cast<size_t>(output - 1);
    c.locks[k] = !c.locks[k];
    return ack('G');
}

bool XelEmulator::drawFault(EmuFault fault)
{
    const auto k = static_cast<size_t>(fault);
    if (m_faultCount[k] > 0) {
        --m_faultCount[k];
        return true;
    }
    if (m_faultRate[k] > 0.0)
        return std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_faultRate[k];
    return false;
}

EmuReply XelEmulator::deliver(const QString &answer)
{
    EmuReply r;
    if (drawFault(EmuFault::Slow)) {
        log(QStringLiteral("   fault: slow (%1 ms)").arg(m_slowMs));
        r.delayMs = m_slowMs;
    }
    const QByteArray frame = answer.toLatin1();
    if (drawFault(EmuFault::Hangup)) {
        log(QStringLiteral("   fault: hangup"));
        r.hangup = true;
        return r;
    }
    if (drawFault(EmuFault::Silence)) {
        log(QStringLiteral("   fault: silence"));
        return r;
    }
    if (drawFault(EmuFault::Partial)) {
        log(QStringLiteral("   fault: partial line"));
        r.bytes = frame.left(std::max<qsizetype>(1, (frame.size() - 2) / 2));
        return r;
    }
    // Either way the line ends in a checksum that cannot match its text.
    auto wrongSum = [](const QByteArray &body) {
        const int sum = (HublinkChecksum(QString::fromLatin1(body)) + 1) % 256;
        return QByteArray { static_cast<char>('0' + (sum >> 4)), static_cast<char>('0' + (sum & 0x0F)) };
    };
    if (drawFault(EmuFault::Garbage)) {
        log(QStringLiteral("   fault: garbage"));
        QByteArray junk;
        const qsizetype len = std::max<qsizetype>(3, frame.size() - 4);
        std::uniform_int_distribution<int> printableChar(0x21, 0x7E);
        for (qsizetype i = 0; i < len; ++i)
            junk.append(static_cast<char>(printableChar(m_rng)));
        r.bytes = junk + wrongSum(junk) + "\r\n";
        return r;
    }
    if (drawFault(EmuFault::BadChecksum)) {
        log(QStringLiteral("   fault: bad checksum"));
        const QByteArray body = frame.size() <= 4 ? frame.left(1) : frame.left(frame.size() - 4);
        r.bytes = body + wrongSum(body) + "\r\n";
        return r;
    }
    r.bytes = frame;
    return r;
}

void XelEmulator::injectFault(EmuFault fault, int count)
{
    m_faultCount[static_cast<size_t>(fault)] = std::max(count, 0);
}

void XelEmulator::setFaultRate(EmuFault fault, double probability)
{
    m_faultRate[static_cast<size_t>(fault)] = std::clamp(probability, 0.0, 1.0);
}

void XelEmulator::clearFaults()
{
    m_faultCount.fill(0);
    m_faultRate.fill(0.0);
}

void XelEmulator::log(const QString &text) const
{
    if (m_log)
        m_log(text);
}

} // namespace exel
