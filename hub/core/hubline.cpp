// One controller line: its queue, its poll order and the journal entries it moves.
#include "hubline.h"

#include "hublinkprotocol.h"
#include "hublog.h"

#include <algorithm>

namespace exel::hub {

namespace {

// How much of the recent line use the shares are measured over: each command
// weighs the older figures down by this factor, a window of a few hundred.
constexpr double kUseDecay = 0.995;
// Rest when there is nothing to do at all (no outputs to sweep, or a pause).
constexpr int kIdleMs = 20;

int answerChars(const QString &reply)
{
    if (reply.isEmpty())
        return 0;
    return reply.size() <= 1 ? 3 : static_cast<int>(reply.size()) + 4;
}

QString originText(const Origin &o)
{
    QString text = o.server;
    if (!o.address.isEmpty())
        text += QLatin1Char(' ') + o.address;
    if (!o.name.isEmpty())
        text += QStringLiteral(" (") + o.name + QLatin1Char(')');
    return text;
}

} // namespace

HubLine::HubLine(QString name, LinePort &port, RouterState &state, Journal &journal, Clock &clock,
    const LineOptions &options, std::vector<int16_t> controllers, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_port(port)
    , m_state(state)
    , m_journal(journal)
    , m_clock(clock)
    , m_options(options)
{
    if (controllers.empty()) {
        for (const ControllerInfo &c : state.controllers())
            m_controllers.insert(c.address);
    } else {
        m_controllers.insert(controllers.begin(), controllers.end());
    }
    // The sweep covers every output that a configured destination uses, once
    // per controller and output number: one question answers all its levels.
    std::set<Key> outputs;
    const StatandConfig &model = state.model();
    for (int d = 0; d < model.destinationCount(); ++d) {
        for (int l = 0; l < model.levelCount(); ++l) {
            const int16_t number = model.DestinationNumber(d, l);
            const int16_t address = model.level(l).controllerAddress;
            const ControllerInfo *info = state.controller(address);
            if (number < 0 || !info || !carries(address) || number + 1 > info->outputs)
                continue;
            outputs.insert({ address, number + 1 });
        }
    }
    m_sweep.assign(outputs.begin(), outputs.end());
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_running || m_inStep)
            return;
        const bool did = step();
        scheduleNext(did ? 0 : kIdleMs);
    });
    m_state.setLineOnline(m_name, true);
    m_port.onDialling([this](bool dialling) {
        m_state.setLineDialling(m_name, dialling);
        if (dialling)
            hubLog(QStringLiteral("line %1: dialling").arg(m_name));
    });
}

bool HubLine::carries(int16_t address) const
{
    return m_controllers.count(address) > 0;
}

void HubLine::start()
{
    m_running = true;
    scheduleNext(0);
}

void HubLine::stop()
{
    m_running = false;
    m_timer.stop();
}

void HubLine::scheduleNext(int delayMs)
{
    if (!m_running)
        return;
    if (m_timer.isActive() && m_timer.remainingTime() <= delayMs)
        return;
    m_timer.start(delayMs);
}

HubLine::~HubLine()
{
    m_port.onDialling({});
}

bool HubLine::lineUsable() const
{
    Hublink &link = m_port.link();
    return m_port.portOpen() && !link.isComOffline() && link.isHublinkConnected();
}

void HubLine::updateOnline()
{
    const bool online = lineUsable();
    if (online == m_online)
        return;
    m_online = online;
    m_state.setLineOnline(m_name, online);
    hubLog(QStringLiteral("line %1: %2 (%3)")
               .arg(m_name, online ? QStringLiteral("online") : QStringLiteral("offline"),
                   m_port.portOpen() ? m_port.link().getDescriptionString() : QStringLiteral("port closed")));
    emit onlineChanged(online);
}

QString HubLine::takeSummary(const TakeRequest &take) const
{
    QStringList parts;
    for (size_t i = 0; i < take.inputs.size(); ++i) {
        const int input = take.inputs[i];
        if (input <= 0)
            continue;
        const int ctlLevel = static_cast<int>(i) + 1;
        QString source = m_state.sourceName(take.address, ctlLevel, input);
        if (source.isEmpty())
            source = QStringLiteral("input %1").arg(input);
        QString level = m_state.levelName(take.address, ctlLevel);
        if (level.isEmpty())
            level = QStringLiteral("level %1").arg(ctlLevel);
        parts << source + QLatin1Char('/') + level;
    }
    QString dest = m_state.destinationName(take.address, take.output);
    if (dest.isEmpty())
        dest = QStringLiteral("output %1").arg(take.output);
    return dest + QStringLiteral(" <- ") + (parts.isEmpty() ? QStringLiteral("nothing") : parts.join(u", "));
}

int64_t HubLine::submitTake(const TakeRequest &take, const Origin &origin, Done done)
{
    Command c;
    c.done = std::move(done);
    JournalEntry &e = c.entry;
    e.kind = JournalEntry::Kind::Take;
    e.line = m_name;
    e.address = take.address;
    e.output = take.output;
    e.destination = m_state.destinationName(take.address, take.output);
    e.inputs = take.inputs;
    e.summary = takeSummary(take);
    e.origin = origin;
    if (!m_journal.add(e)) {
        hubLog(QStringLiteral("line %1: take %2 from %3 refused: the journal cannot record it")
                   .arg(m_name, e.summary, originText(origin)));
        e.state = EntryState::Failed;
        e.note = QStringLiteral("the journal cannot record it");
        if (c.done)
            c.done(e);
        return 0;
    }
    hubLog(QStringLiteral("take %1 %2 from %3: queued").arg(e.id).arg(e.summary, originText(origin)));
    std::vector<int16_t> src;
    for (const int16_t v : take.inputs)
        src.push_back(static_cast<int16_t>(v - 1));
    const HublinkCommand cmd
        = HublinkHCommand(take.address, static_cast<int>(take.inputs.size()), take.output - 1, src);
    if (!cmd.ok) {
        finishCommand(c, EntryState::Failed, QString(), cmd.error);
        return e.id;
    }
    if (!lineUsable()) {
        finishCommand(c, EntryState::Failed, QString(), QStringLiteral("line offline"));
        return e.id;
    }
    const int64_t id = e.id;
    m_commands.push_back(std::move(c));
    scheduleNext(0);
    return id;
}

int64_t HubLine::submitLockToggle(int16_t address, int output, const Origin &origin, Done done)
{
    Command c;
    c.done = std::move(done);
    c.entry.origin = origin;
    return submitLockCommand(std::move(c), address, output, QStringLiteral("lock toggle"));
}

int64_t HubLine::submitLock(int16_t address, int output, bool locked, const Origin &origin, Done done, bool forced)
{
    Command c;
    c.done = std::move(done);
    c.entry.origin = origin;
    c.wanted = locked ? 1 : 0;
    if (forced) {
        const Origin *owner = m_state.lockOwner(address, output);
        c.entry.note
            = owner ? QStringLiteral("forced open: held by ") + originText(*owner) : QStringLiteral("forced open");
    }
    return submitLockCommand(std::move(c), address, output, locked ? QStringLiteral("lock") : QStringLiteral("unlock"));
}

int64_t HubLine::submitLockCommand(Command c, int16_t address, int output, const QString &what)
{
    JournalEntry &e = c.entry;
    e.kind = JournalEntry::Kind::Lock;
    e.line = m_name;
    e.address = address;
    e.output = output;
    e.destination = m_state.destinationName(address, output);
    e.summary
        = (e.destination.isEmpty() ? QStringLiteral("output %1").arg(output) : e.destination) + QLatin1Char(' ') + what;
    if (!m_journal.add(e)) {
        e.state = EntryState::Failed;
        e.note = QStringLiteral("the journal cannot record it");
        if (c.done)
            c.done(e);
        return 0;
    }
    hubLog(QStringLiteral("lock %1 %2 from %3: queued").arg(e.id).arg(e.summary, originText(e.origin)));
    if (!HublinkLCommand(address, output - 1).ok) {
        finishCommand(c, EntryState::Failed, QString(), HublinkLCommand(address, output - 1).error);
        return e.id;
    }
    if (!lineUsable()) {
        finishCommand(c, EntryState::Failed, QString(), QStringLiteral("line offline"));
        return e.id;
    }
    const int64_t id = e.id;
    m_commands.push_back(std::move(c));
    scheduleNext(0);
    return id;
}

void HubLine::requestStatus(int16_t address, int output, Polled polled)
{
    const Key key { address, output };
    auto &waiters = m_statusWaiters[key];
    if (polled)
        waiters.push_back(std::move(polled));
    if (std::find(m_priorityStatus.begin(), m_priorityStatus.end(), key) == m_priorityStatus.end())
        m_priorityStatus.push_back(key);
    scheduleNext(0);
}

void HubLine::requestLocks(int16_t address, Polled polled)
{
    if (polled)
        m_lockWaiters[address].push_back(std::move(polled));
    if (std::find(m_priorityLocks.begin(), m_priorityLocks.end(), address) == m_priorityLocks.end())
        m_priorityLocks.push_back(address);
    scheduleNext(0);
}

void HubLine::watch(int16_t address, int output)
{
    m_watchedUntil[{ address, output }] = m_clock.nowMs() + m_options.watchMs;
}

bool HubLine::statusFresh(int16_t address, int output, int staleMs) const
{
    const OutputStatus *s = m_state.status(address, output);
    return s && s->known() && m_clock.nowMs() - s->readAt <= staleMs;
}

bool HubLine::locksFresh(int16_t address, int staleMs) const
{
    const int64_t at = m_state.locksReadAt(address);
    return at >= 0 && m_clock.nowMs() - at <= staleMs;
}

void HubLine::account(Use use, int chars)
{
    m_useTotal = m_useTotal * kUseDecay + chars;
    m_useWatch = m_useWatch * kUseDecay + (use == Use::Watch ? chars : 0);
    m_useLocks = m_useLocks * kUseDecay + (use == Use::Locks ? chars : 0);
    m_wireChars += chars;
}

bool HubLine::shareLeft(Use use, double share) const
{
    if (share <= 0)
        return false;
    if (m_useTotal <= 0)
        return true;
    const double used = use == Use::Watch ? m_useWatch : m_useLocks;
    return used <= share * m_useTotal;
}

QString HubLine::send(const QString &text)
{
    float timeout = static_cast<float>(m_options.answerTimeoutMs) / 1000.0F;
    const QString reply = m_port.link().SendHublinkCmd(text, timeout);
    ++m_commandsSent;
    emit commandRan(text, reply);
    return reply;
}

void HubLine::failQueued(const QString &note)
{
    while (!m_commands.empty()) {
        Command c = std::move(m_commands.front());
        m_commands.pop_front();
        finishCommand(c, EntryState::Failed, QString(), note);
    }
}

void HubLine::finishCommand(Command &c, EntryState state, const QString &reply, const QString &note)
{
    JournalEntry &e = c.entry;
    const int64_t now = m_journal.wallNow();
    e.state = state;
    e.reply = reply;
    if (!note.isEmpty())
        e.note = note;
    if (e.sentAt != 0)
        e.answeredAt = now;
    if (!entryOpen(state))
        e.settledAt = now;
    m_journal.update(e);
    hubLog(QStringLiteral("%1 %2 %3: %4%5")
               .arg(e.kind == JournalEntry::Kind::Lock ? QStringLiteral("lock") : QStringLiteral("take"))
               .arg(e.id)
               .arg(e.summary, entryStateName(state),
                   e.note.isEmpty() ? QString() : QStringLiteral(" (") + e.note + QLatin1Char(')')));
    if (c.done) {
        const Done done = std::move(c.done);
        done(e);
    }
}

void HubLine::runCommand(Command &c)
{
    JournalEntry &e = c.entry;
    const Key key { e.address, e.output };
    QString text;
    if (e.kind == JournalEntry::Kind::Take) {
        const OutputStatus *s = m_state.status(e.address, e.output);
        e.previous.assign(e.inputs.size(), -1);
        for (size_t i = 0; i < e.inputs.size(); ++i) {
            if (s && s->known() && i < s->input.size())
                e.previous[i] = s->input[i];
        }
        std::vector<int16_t> src;
        for (const int16_t v : e.inputs)
            src.push_back(static_cast<int16_t>(v - 1));
        text = HublinkHCommand(e.address, static_cast<int>(e.inputs.size()), e.output - 1, src).text;
    } else {
        // A lock set needs the table as it is now: a toggle on an old reading
        // could turn the lock the wrong way.
        if (c.wanted >= 0 && !locksFresh(e.address, m_options.lockSetFreshMs) && !pollLocks(e.address, Use::Other)) {
            finishCommand(c, EntryState::Failed, QString(),
                m_online ? QStringLiteral("the lock table could not be read") : QStringLiteral("line offline"));
            return;
        }
        const std::vector<bool> *locks = m_state.locks(e.address);
        const bool known = m_state.locksReadAt(e.address) >= 0 && locks && e.output >= 1
            && e.output <= static_cast<int>(locks->size());
        e.previous = { static_cast<int16_t>(known ? ((*locks)[static_cast<size_t>(e.output - 1)] ? 1 : 0) : -1) };
        if (c.wanted >= 0 && e.previous[0] == c.wanted) {
            const QString already = c.wanted ? QStringLiteral("already locked") : QStringLiteral("already free");
            finishCommand(c, EntryState::Confirmed, QString(),
                e.note.isEmpty() ? already : e.note + QStringLiteral("; ") + already);
            return;
        }
        text = HublinkLCommand(e.address, e.output - 1).text;
    }
    // Written before the line goes out: after a kill the entry says "sent",
    // never "queued", for a command the controller may have carried out.
    e.state = EntryState::Sent;
    e.sentAt = m_journal.wallNow();
    m_journal.update(e);
    const QString reply = send(text);
    account(Use::Other, static_cast<int>(text.size()) + 4 + answerChars(reply));
    updateOnline();

    if (reply.startsWith(QLatin1Char('G'))) {
        // The state follows at once; the client hears of it after the state
        // does, and a poll confirms or contradicts it next.
        if (e.kind == JournalEntry::Kind::Take)
            m_state.takeAcknowledged(e.address, e.output, e.inputs);
        else
            m_state.lockToggled(e.address, e.output, &e.origin);
        finishCommand(c, EntryState::Acknowledged, reply, QString());
        if (e.kind == JournalEntry::Kind::Take) {
            m_unconfirmedTakes[key].push_back(e);
            if (std::find(m_confirmStatus.begin(), m_confirmStatus.end(), key) == m_confirmStatus.end())
                m_confirmStatus.push_back(key);
            m_confirmTries[key] = 0;
        } else {
            m_unconfirmedLocks[e.address].push_back(e);
            if (std::find(m_confirmLocks.begin(), m_confirmLocks.end(), e.address) == m_confirmLocks.end())
                m_confirmLocks.push_back(e.address);
            m_confirmLockTries[e.address] = 0;
        }
        return;
    }
    if (reply.isEmpty()) {
        finishCommand(c, EntryState::Failed, reply,
            m_online ? QStringLiteral("no answer from the controller") : QStringLiteral("line offline"));
        return;
    }
    finishCommand(c, EntryState::Refused, reply,
        reply.startsWith(QLatin1Char('L')) ? QStringLiteral("output locked")
                                           : QStringLiteral("refused by the controller"));
}

bool HubLine::pollStatus(const Key &key, Use use)
{
    const HublinkCommand cmd = HublinkYCommand(key.first, key.second - 1);
    if (!cmd.ok) {
        polledStatus(key, false);
        return false;
    }
    const QString reply = send(cmd.text);
    account(use, static_cast<int>(cmd.text.size()) + 4 + answerChars(reply));
    HublinkStatus status;
    ErrorInfo error;
    bool answered = false;
    if (!reply.isEmpty() && HublinkDecodeStatus(reply, status, error) && status.levels > 0) {
        std::vector<int16_t> input(static_cast<size_t>(status.levels));
        std::vector<bool> flag(static_cast<size_t>(status.levels));
        for (int i = 0; i < status.levels; ++i) {
            input[static_cast<size_t>(i)] = static_cast<int16_t>(status.intSrc[static_cast<size_t>(i)] + 1);
            flag[static_cast<size_t>(i)] = status.bolErr[static_cast<size_t>(i)];
        }
        m_state.statusRead(key.first, key.second, input, flag, m_clock.nowMs());
        answered = true;
    }
    updateOnline();
    polledStatus(key, answered);
    return answered;
}

bool HubLine::pollLocks(int16_t address, Use use)
{
    const HublinkCommand cmd = HublinkWCommand(address);
    m_lockAskedAt[address] = m_clock.nowMs();
    const QString reply = cmd.ok ? send(cmd.text) : QString();
    account(use, static_cast<int>(cmd.text.size()) + 4 + answerChars(reply));
    std::vector<bool> locks;
    ErrorInfo error;
    bool answered = false;
    // A table is one '0' or '1' per output; a refusal ("E") is not one.
    const bool table = !reply.isEmpty()
        && std::all_of(reply.begin(), reply.end(), [](QChar ch) { return ch == u'0' || ch == u'1'; });
    if (table && HublinkDecodeLocks(reply, locks, error)) {
        locks.pop_back(); // the spare element is not an output
        m_state.locksRead(address, locks, m_clock.nowMs());
        answered = true;
    }
    updateOnline();
    polledLocks(address, answered);
    return answered;
}

// What a poll's end means for what waited on it: the entries it was to
// confirm are settled, asked again, or given up after their tries; then the
// clients waiting for that reading hear of it. One rule for status readings
// (keyed by controller and output) and lock tables (keyed by controller).
template <class K, class Settle>
void HubLine::polled(const K &key, bool answered, std::map<K, std::vector<JournalEntry>> &unconfirmed,
    std::map<K, int> &tries, std::deque<K> &confirmQueue, std::map<K, std::vector<Polled>> &waiters, Settle settle)
{
    const auto open = unconfirmed.find(key);
    if (open != unconfirmed.end()) {
        if (answered) {
            settle(key);
        } else if (++tries[key] < m_options.confirmTries) {
            if (std::find(confirmQueue.begin(), confirmQueue.end(), key) == confirmQueue.end())
                confirmQueue.push_back(key);
        } else {
            for (JournalEntry &e : open->second) {
                e.note = QStringLiteral("not confirmed: no answer to the confirming polls");
                m_journal.update(e);
            }
            unconfirmed.erase(open);
        }
    }
    const auto it = waiters.find(key);
    if (it == waiters.end())
        return;
    std::vector<Polled> waiting = std::move(it->second);
    waiters.erase(it);
    for (const Polled &p : waiting)
        p(answered);
}

void HubLine::polledStatus(const Key &key, bool answered)
{
    polled(key, answered, m_unconfirmedTakes, m_confirmTries, m_confirmStatus, m_statusWaiters,
        [this](const Key &k) { settleTakes(k); });
}

void HubLine::polledLocks(int16_t address, bool answered)
{
    polled(address, answered, m_unconfirmedLocks, m_confirmLockTries, m_confirmLocks, m_lockWaiters,
        [this](int16_t a) { settleLocks(a); });
}

void HubLine::settleTakes(const Key &key)
{
    const auto it = m_unconfirmedTakes.find(key);
    if (it == m_unconfirmedTakes.end())
        return;
    std::vector<JournalEntry> entries = std::move(it->second);
    m_unconfirmedTakes.erase(it);
    const OutputStatus *s = m_state.status(key.first, key.second);
    const int64_t now = m_journal.wallNow();
    for (size_t n = 0; n < entries.size(); ++n) {
        JournalEntry &e = entries[n];
        bool compared = false;
        QStringList wrong;
        int64_t replacedBy = 0;
        for (size_t i = 0; i < e.inputs.size(); ++i) {
            if (e.inputs[i] <= 0)
                continue;
            // A later take on the same level decides what the poll must show there.
            bool later = false;
            for (size_t m = n + 1; m < entries.size(); ++m) {
                if (i < entries[m].inputs.size() && entries[m].inputs[i] > 0) {
                    later = true;
                    replacedBy = entries[m].id;
                }
            }
            if (later)
                continue;
            compared = true;
            const int shown = s && i < s->input.size() ? s->input[i] : -1;
            if (shown != e.inputs[i])
                wrong << QStringLiteral("level %1 shows input %2").arg(i + 1).arg(shown);
        }
        if (!compared) {
            e.note = QStringLiteral("taken again by entry %1 before a poll").arg(replacedBy);
            m_journal.update(e);
            continue;
        }
        e.state = wrong.isEmpty() ? EntryState::Confirmed : EntryState::Contradicted;
        e.note = wrong.isEmpty() ? QStringLiteral("a poll shows it") : QStringLiteral("a poll: ") + wrong.join(u", ");
        e.settledAt = now;
        m_journal.update(e);
        hubLog(QStringLiteral("take %1 %2: %3 (%4)").arg(e.id).arg(e.summary, entryStateName(e.state), e.note));
    }
}

void HubLine::settleLocks(int16_t address)
{
    const auto it = m_unconfirmedLocks.find(address);
    if (it == m_unconfirmedLocks.end())
        return;
    std::vector<JournalEntry> entries = std::move(it->second);
    m_unconfirmedLocks.erase(it);
    const std::vector<bool> *locks = m_state.locks(address);
    const int64_t now = m_journal.wallNow();
    for (size_t n = 0; n < entries.size(); ++n) {
        JournalEntry &e = entries[n];
        // A forced opening stays on record whatever the poll then says.
        const QString forced = e.note.startsWith(QLatin1String("forced open"))
            ? e.note.section(QLatin1Char(';'), 0, 0) + QStringLiteral("; ")
            : QString();
        // Toggles of the same output after this one decide what the table shows.
        int later = 0;
        for (size_t m = n + 1; m < entries.size(); ++m)
            later += entries[m].output == e.output ? 1 : 0;
        const bool shown = locks && e.output >= 1 && e.output <= static_cast<int>(locks->size())
            && (*locks)[static_cast<size_t>(e.output - 1)];
        if (later > 0) {
            e.note = forced + QStringLiteral("toggled again before a poll");
            m_journal.update(e);
            continue;
        }
        if (e.previous.empty() || e.previous[0] < 0) {
            e.note = forced
                + (shown ? QStringLiteral("a poll shows it locked (lock before unknown)")
                         : QStringLiteral("a poll shows it free (lock before unknown)"));
            m_journal.update(e);
            continue;
        }
        const bool expected = e.previous[0] == 0;
        e.state = shown == expected ? EntryState::Confirmed : EntryState::Contradicted;
        e.note = forced + (shown ? QStringLiteral("a poll shows it locked") : QStringLiteral("a poll shows it free"));
        e.settledAt = now;
        m_journal.update(e);
        hubLog(QStringLiteral("lock %1 %2: %3 (%4)").arg(e.id).arg(e.summary, entryStateName(e.state), e.note));
    }
}

const HubLine::Key *HubLine::nextWatched(int64_t now) const
{
    const Key *best = nullptr;
    int64_t bestAt = 0;
    for (const auto &[key, until] : m_watchedUntil) {
        if (until < now)
            continue;
        const OutputStatus *s = m_state.status(key.first, key.second);
        if (!s)
            continue;
        const int64_t at = s->readAt;
        if (at >= 0 && now - at < m_options.watchRefreshMs)
            continue;
        if (!best || at < bestAt) {
            best = &key;
            bestAt = at;
        }
    }
    return best;
}

bool HubLine::step()
{
    if (m_inStep)
        return false;
    m_inStep = true;
    struct Leave {
        bool &flag;
        ~Leave() { flag = false; }
    } leave { m_inStep };

    const int64_t now = m_clock.nowMs();
    if (!m_port.portOpen()) {
        updateOnline();
        failQueued(QStringLiteral("line offline"));
        for (const Key &key : std::deque<Key>(m_priorityStatus))
            polledStatus(key, false);
        m_priorityStatus.clear();
        for (const int16_t a : std::deque<int16_t>(m_priorityLocks))
            polledLocks(a, false);
        m_priorityLocks.clear();
        if (now >= m_nextReopen) {
            m_nextReopen = now + m_options.reopenMs;
            hubLog(QStringLiteral("line %1: opening the port again").arg(m_name));
            m_port.reopen();
            updateOnline();
            return true;
        }
        return false;
    }
    if (now < m_restUntil)
        return false;

    // Takes go first, but a burst of them must not starve their confirming
    // polls: after each command a pending confirmation gets its turn.
    const bool confirmDue = !m_confirmStatus.empty() || !m_confirmLocks.empty();
    if (!m_commands.empty() && !(confirmDue && m_commandsInARow > 0)) {
        ++m_commandsInARow;
        Command c = std::move(m_commands.front());
        m_commands.pop_front();
        if (!lineUsable())
            finishCommand(c, EntryState::Failed, QString(), QStringLiteral("line offline"));
        else
            runCommand(c);
        return true;
    }
    m_commandsInARow = 0;
    if (!m_confirmStatus.empty()) {
        const Key key = m_confirmStatus.front();
        m_confirmStatus.pop_front();
        pollStatus(key, Use::Other);
        return true;
    }
    if (!m_confirmLocks.empty()) {
        const int16_t address = m_confirmLocks.front();
        m_confirmLocks.pop_front();
        pollLocks(address, Use::Other);
        return true;
    }
    if (!m_priorityStatus.empty()) {
        const Key key = m_priorityStatus.front();
        m_priorityStatus.pop_front();
        pollStatus(key, Use::Other);
        return true;
    }
    if (!m_priorityLocks.empty()) {
        const int16_t address = m_priorityLocks.front();
        m_priorityLocks.pop_front();
        pollLocks(address, Use::Locks);
        return true;
    }

    // Lock tables at a bounded share, each no more often than its interval.
    if (shareLeft(Use::Locks, m_options.lockShare)) {
        for (const int16_t address : m_controllers) {
            const auto asked = m_lockAskedAt.find(address);
            if (asked != m_lockAskedAt.end() && now - asked->second < m_options.lockRefreshMs)
                continue;
            pollLocks(address, Use::Locks);
            return true;
        }
    }
    if (shareLeft(Use::Watch, m_options.watchShare)) {
        for (auto it = m_watchedUntil.begin(); it != m_watchedUntil.end();)
            it = it->second < now ? m_watchedUntil.erase(it) : std::next(it);
        if (const Key *key = nextWatched(now)) {
            const Key copy = *key;
            pollStatus(copy, Use::Watch);
            return true;
        }
    }
    if (m_sweep.empty())
        return false;
    if (m_sweepNext == 0) {
        if (m_options.sweepPauseMs > 0 && m_sweepsDone > 0 && now - m_sweepStartedAt < m_options.sweepPauseMs)
            return false;
        m_sweepStartedAt = now;
    }
    const Key key = m_sweep[m_sweepNext];
    m_sweepNext = (m_sweepNext + 1) % m_sweep.size();
    if (m_sweepNext == 0)
        ++m_sweepsDone;
    pollStatus(key, Use::Other);
    // A dial-up line that could not connect is not dialled again at once.
    if (!m_port.link().isHublinkConnected())
        m_restUntil = m_clock.nowMs() + m_options.redialMs;
    return true;
}

} // namespace exel::hub
