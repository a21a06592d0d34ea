// Fixtures of the control's tests: the engine's pty and fake-driver fixtures,
// waiting on the event loop, and a recorder of the control's events in order.
#pragma once

#include "enginetest.h"
#include "tolcomm.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <string>
#include <vector>

namespace controltest {

// Runs the event loop until cond holds or ms pass.
inline bool waitFor(const std::function<bool()> &cond, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// The control's comm events by name, in the order raised.
class EventLog {
public:
    explicit EventLog(TolComm &comm)
    {
        QObject::connect(&comm, &TolComm::AbortFile, &m_context, [this] { events.push_back("AbortFile"); });
        QObject::connect(
            &comm, &TolComm::AbortFileTransfer, &m_context, [this] { events.push_back("AbortFileTransfer"); });
        QObject::connect(&comm, &TolComm::CarrierChanged, &m_context, [this] { events.push_back("CarrierChanged"); });
        QObject::connect(&comm, &TolComm::CTSChanged, &m_context, [this] { events.push_back("CTSChanged"); });
        QObject::connect(&comm, &TolComm::DSRChanged, &m_context, [this] { events.push_back("DSRChanged"); });
        QObject::connect(&comm, &TolComm::EOFChar, &m_context, [this] { events.push_back("EOFChar"); });
        QObject::connect(&comm, &TolComm::FinishFile, &m_context, [this] { events.push_back("FinishFile"); });
        QObject::connect(
            &comm, &TolComm::FinishFileTransfer, &m_context, [this] { events.push_back("FinishFileTransfer"); });
        QObject::connect(&comm, &TolComm::OnComm, &m_context, [this] { events.push_back("OnComm"); });
        QObject::connect(&comm, &TolComm::PrepareFile, &m_context, [this] { events.push_back("PrepareFile"); });
        QObject::connect(&comm, &TolComm::Ring, &m_context, [this] { events.push_back("Ring"); });
        QObject::connect(&comm, &TolComm::Receive, &m_context, [this] { events.push_back("Receive"); });
        QObject::connect(&comm, &TolComm::Send, &m_context, [this] { events.push_back("Send"); });
        QObject::connect(&comm, &TolComm::StartFile, &m_context, [this] { events.push_back("StartFile"); });
        QObject::connect(&comm, &TolComm::TransferBlock, &m_context, [this] { events.push_back("TransferBlock"); });
        QObject::connect(&comm, &TolComm::WaitForFile, &m_context, [this] { events.push_back("WaitForFile"); });
    }
    std::vector<std::string> events;

private:
    QObject m_context;
};

} // namespace controltest
