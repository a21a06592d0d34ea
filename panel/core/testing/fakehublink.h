// A scripted stand-in for the controller link: it records every call in order
// and answers from a small router model (crosspoints and lock tables per
// controller address) or from queued answers, so polling, takes, locks and
// auto-configuration can be tested without a port.
#pragma once

#include "hublink.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace exel::testing {

class FakeHublink : public Hublink {
public:
    enum class Kind { Send, Y, W, H, L, Connect, Disconnect };

    struct Call {
        Kind kind = Kind::Send;
        QString cmd; // Send: the command text
        int16_t id = 0; // controller address
        int16_t dst = 0; // output number (0-based) for Y, H, L
        int16_t numLevs = 0; // H: controller's number of levels
        std::vector<int16_t> src; // H: input per controller level (-1 unchanged)
    };

    // One controller's answer for one output: per controller level the input
    // (0-based, -1 none) and the flag.
    struct Crosspoints {
        std::vector<int16_t> src;
        std::vector<bool> flags;
    };

    // ---- script
    // Answers for SendHublinkCmd, used in order; "" when none is queued.
    void queueSend(const QString &answer) { m_sendAnswers.push_back(answer); }
    void queueSend(const QStringList &answers)
    {
        for (const QString &a : answers)
            m_sendAnswers.push_back(a);
    }
    // Replaces the queue: the answer for each command text.
    std::function<QString(const QString &)> onSend;

    // Number of levels every controller reports in a Y answer (the router's
    // width); crosspoints not set answer -1 (no source) with flag false.
    void setReportedLevels(int16_t id, int16_t levels) { m_levels[id] = levels; }
    void setCrosspoint(int16_t id, int16_t dst, int16_t ctlLevel, int16_t src, bool flag = false)
    {
        Crosspoints &c = m_xpt[{ id, dst }];
        const auto need = static_cast<size_t>(ctlLevel) + 1;
        if (c.src.size() < need) {
            c.src.resize(need, -1);
            c.flags.resize(need, false);
        }
        c.src[static_cast<size_t>(ctlLevel)] = src;
        c.flags[static_cast<size_t>(ctlLevel)] = flag;
    }
    int16_t crosspoint(int16_t id, int16_t dst, int16_t ctlLevel) const
    {
        const auto it = m_xpt.find({ id, dst });
        if (it == m_xpt.end() || static_cast<size_t>(ctlLevel) >= it->second.src.size())
            return -1;
        return it->second.src[static_cast<size_t>(ctlLevel)];
    }
    // Lock table of a controller, one flag per output (0-based). A controller
    // without one answers an empty reply.
    void setLocks(int16_t id, std::vector<bool> locks) { m_locks[id] = std::move(locks); }
    std::vector<bool> locks(int16_t id) const
    {
        const auto it = m_locks.find(id);
        return it == m_locks.end() ? std::vector<bool> {} : it->second;
    }
    // Takes change the crosspoints and lock commands toggle the lock table,
    // as a controller would (on by default).
    bool applyCommands = true;
    // Reply to every take; the reply to a lock change.
    QString takeReply = QStringLiteral("G");
    QString lockReply = QStringLiteral("G");
    // Runs after each recorded call: tests use it to go offline or busy mid-way.
    std::function<void(const Call &)> afterCall;

    // ---- link state
    bool busy = false;
    bool offline = false;
    bool comError = false;
    bool connected = true;
    QString description = QStringLiteral("COM1 Online");

    // ---- what was asked
    const std::vector<Call> &calls() const { return m_calls; }
    std::vector<Call> callsOf(Kind kind) const
    {
        std::vector<Call> out;
        for (const Call &c : m_calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }
    int count(Kind kind) const { return static_cast<int>(callsOf(kind).size()); }
    QStringList sentCommands() const
    {
        QStringList out;
        for (const Call &c : m_calls)
            if (c.kind == Kind::Send)
                out << c.cmd;
        return out;
    }
    void clearCalls() { m_calls.clear(); }

    // ---- Hublink
    QString SendHublinkCmd(const QString &strCmd, float &sglTimeout) override
    {
        if (sglTimeout <= 0)
            sglTimeout = 2;
        Call c;
        c.kind = Kind::Send;
        c.cmd = strCmd;
        QString answer;
        if (onSend) {
            answer = onSend(strCmd);
        } else if (!m_sendAnswers.empty()) {
            answer = m_sendAnswers.front();
            m_sendAnswers.pop_front();
        }
        record(c);
        return answer;
    }

    int CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr) override
    {
        Call c;
        c.kind = Kind::Y;
        c.id = intID;
        c.dst = intDst;
        const auto lv = m_levels.find(intID);
        const int n = lv == m_levels.end() ? 0 : lv->second;
        if (n <= 0) {
            intSrc.assign(2, 0);
            bolErr.assign(2, false);
        } else {
            intSrc.assign(static_cast<size_t>(n) + 1, 0);
            bolErr.assign(static_cast<size_t>(n) + 1, false);
            const auto it = m_xpt.find({ intID, intDst });
            for (int i = 0; i < n; ++i) {
                const auto k = static_cast<size_t>(i);
                const bool known = it != m_xpt.end() && k < it->second.src.size();
                intSrc[k] = known ? it->second.src[k] : int16_t(-1);
                bolErr[k] = known ? bool(it->second.flags[k]) : false;
            }
        }
        record(c);
        return n;
    }

    std::vector<bool> CPUWCmd(int16_t intID) override
    {
        Call c;
        c.kind = Kind::W;
        c.id = intID;
        std::vector<bool> out = locks(intID);
        if (out.empty())
            out.assign(2, false);
        else
            out.push_back(false); // element L is not an output
        record(c);
        return out;
    }

    QString CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc) override
    {
        Call c;
        c.kind = Kind::H;
        c.id = intID;
        c.numLevs = intNumLevs;
        c.dst = intDst;
        c.src = intSrc;
        if (applyCommands)
            for (size_t i = 0; i < intSrc.size() && i < static_cast<size_t>(intNumLevs); ++i)
                if (intSrc[i] != -1)
                    setCrosspoint(intID, intDst, static_cast<int16_t>(i), intSrc[i]);
        record(c);
        return takeReply;
    }

    QString CPULCmd(int16_t intID, int16_t intDst) override
    {
        Call c;
        c.kind = Kind::L;
        c.id = intID;
        c.dst = intDst;
        if (applyCommands && intDst >= 0) {
            std::vector<bool> &t = m_locks[intID];
            if (t.size() <= static_cast<size_t>(intDst))
                t.resize(static_cast<size_t>(intDst) + 1, false);
            t[static_cast<size_t>(intDst)] = !t[static_cast<size_t>(intDst)];
        }
        record(c);
        return lockReply;
    }

    bool isComError() const override { return comError; }
    bool isComOffline() const override { return offline; }
    bool isCPUBusy() const override { return busy; }
    bool isHublinkConnected() const override { return connected; }
    QString getDescriptionString() const override { return description; }

    void ConnectModem() override
    {
        Call c;
        c.kind = Kind::Connect;
        record(c);
    }
    void disconnectModem() override
    {
        Call c;
        c.kind = Kind::Disconnect;
        record(c);
    }

private:
    void record(const Call &c)
    {
        m_calls.push_back(c);
        if (afterCall) {
            const Call copy = c; // afterCall may record further calls
            afterCall(copy);
        }
    }

    std::vector<Call> m_calls;
    std::deque<QString> m_sendAnswers;
    std::map<int16_t, int16_t> m_levels;
    std::map<std::pair<int16_t, int16_t>, Crosspoints> m_xpt;
    std::map<int16_t, std::vector<bool>> m_locks;
};

} // namespace exel::testing
