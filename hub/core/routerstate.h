// The router as the hub has read it from its controllers: per controller the
// status of every output (input and flag per controller level) and the lock
// table, each with the time it was last read, plus the state of each
// controller line. Numbers are the wire's: outputs, inputs and controller
// levels 1-based, input 0 = none. Every change is announced by a signal; the
// servers subscribe to these signals and keep no router state of their own.
#pragma once

#include "journal.h"
#include "statandconfig.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace exel::hub {

// An output's status as the controller last reported it.
struct OutputStatus {
    std::vector<int16_t> input; // per controller level reported, 1-based, 0 none
    std::vector<bool> flag;
    int64_t readAt = -1; // monotonic ms of the last read, -1 never read
    // Levels changed by an acknowledged take that no poll has shown yet.
    std::vector<bool> unconfirmed;

    bool known() const { return readAt >= 0; }
    int levels() const { return static_cast<int>(input.size()); }
};

struct ControllerInfo {
    QString name;
    int16_t address = 0;
    int16_t levels = 0; // controller levels of the configuration
    int outputs = 0; // highest output number any level has
};

class RouterState : public QObject {
    Q_OBJECT
public:
    // The controllers, levels and names of the configuration. The model must
    // outlive the state.
    explicit RouterState(const StatandConfig &model, QObject *parent = nullptr);

    const StatandConfig &model() const { return m_model; }
    const std::vector<ControllerInfo> &controllers() const { return m_info; }
    const ControllerInfo *controller(int16_t address) const;
    // The controller a request without an address prefix goes to: address 0,
    // or the only controller; nullptr when neither.
    const ControllerInfo *defaultController() const;

    // Status of an output; nullptr for an output the configuration does not have.
    const OutputStatus *status(int16_t address, int output) const;
    // Lock table (index output - 1) and when it was read (-1 never).
    const std::vector<bool> *locks(int16_t address) const;
    int64_t locksReadAt(int16_t address) const;

    // A status read from the controller: inputs and flags per controller level
    // as it reported them. Announces every level whose input or flag changed.
    void statusRead(
        int16_t address, int output, const std::vector<int16_t> &input, const std::vector<bool> &flag, int64_t now);
    // An acknowledged take: the levels given (input > 0) follow at once and
    // stay unconfirmed until the next read.
    void takeAcknowledged(int16_t address, int output, const std::vector<int16_t> &input);
    // A lock table read (index output - 1).
    void locksRead(int16_t address, const std::vector<bool> &locks, int64_t now);
    // An acknowledged lock toggle: the lock follows at once when it is known.
    // by: who made it; a lock that ends locked is then owned by them.
    void lockToggled(int16_t address, int output, const Origin *by = nullptr);

    // Who holds a lock made through the hub; nullptr for a free output and
    // for a lock the hub did not make (set on the controller or by hand).
    // An owner is forgotten as soon as the output is seen or made free.
    const Origin *lockOwner(int16_t address, int output) const;

    // Link state of a controller line, by the line's name.
    void setLineOnline(const QString &line, bool online);
    bool lineOnline(const QString &line) const;
    // A dial-up line is dialling its controller (it is offline meanwhile).
    void setLineDialling(const QString &line, bool dialling);
    bool lineDialling(const QString &line) const;
    // "online", "offline" or "dialling", as every server shows a line.
    QString lineStateName(const QString &line) const;

    // ---- names from the configuration
    // The model's level for a controller level (1-based), or -1.
    int levelIndex(int16_t address, int ctlLevel) const;
    QString destinationName(int16_t address, int output) const;
    QString sourceName(int16_t address, int ctlLevel, int input) const;
    QString levelName(int16_t address, int ctlLevel) const;

signals:
    // The input or flag of one controller level of an output changed.
    // previousInput is -1 when the output had not been read before.
    void crosspointChanged(int16_t address, int output, int ctlLevel, int input, bool flag, int previousInput);
    // An output's status was read (changed or not).
    void statusRefreshed(int16_t address, int output);
    // The owner (lockOwner) is already up to date when this is emitted.
    void lockChanged(int16_t address, int output, bool locked);
    void locksRefreshed(int16_t address);
    void lineStateChanged(const QString &line, bool online);
    void lineDiallingChanged(const QString &line, bool dialling);

private:
    struct Controller {
        std::vector<OutputStatus> outputs; // index output - 1
        std::vector<bool> locks;
        int64_t locksReadAt = -1;
    };
    Controller *find(int16_t address);
    const Controller *find(int16_t address) const;
    int infoIndex(int16_t address) const;

    const StatandConfig &m_model;
    std::vector<ControllerInfo> m_info;
    std::vector<Controller> m_state; // parallel to m_info
    std::map<QString, bool> m_lines;
    std::map<QString, bool> m_dialling;
    std::map<std::pair<int16_t, int>, Origin> m_owners;
};

} // namespace exel::hub
