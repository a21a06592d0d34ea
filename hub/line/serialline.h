// A controller line on a real port: the comm object, the panel's link
// (HublinkCore) over it with log-only dialogs, and the link's settings kept in
// a settings file of the line's own, written from the hub's configuration.
#pragma once

#include "clock.h"
#include "headless.h"
#include "hubline.h"
#include "hublinkcore.h"
#include "settingsstore.h"

#include <QString>

#include <memory>

namespace exel::hub {

struct SerialLineSettings {
    QString name; // the line's name in the log and the journal
    int port = 1; // COM<n>, 1..4
    QString lineSettings = QStringLiteral("9600,N,8,2");
    QString phone; // dial-up when set
    QString modemType;
    QString modemInit;
    QString modemHang;
};

class SerialLine : public LinePort {
public:
    // settingsDir: a folder of the line's own for its settings file.
    SerialLine(const SerialLineSettings &settings, const QString &settingsDir, Clock &clock);
    ~SerialLine() override;

    // Creates the comm object and opens the port (or prepares the modem).
    // False with a reason when the comm object cannot be created; a port that
    // does not open is not an error here (the line reopens it by itself).
    bool open(QString *error);

    Hublink &link() override { return *m_core; }
    bool portOpen() override;
    void reopen() override;
    void onDialling(std::function<void(bool dialling)> notify) override { m_ui.onDialling = std::move(notify); }

    HublinkCore *core() const { return m_core.get(); }
    QObject *comm() const { return m_comm.get(); }

private:
    void applyLineSettings();

    SerialLineSettings m_settings;
    SettingsStore m_store;
    Clock &m_clock;
    LogDialogs m_dialogs;
    HeadlessHublinkUi m_ui;
    std::unique_ptr<QObject> m_comm;
    std::unique_ptr<HublinkCore> m_core;
};

} // namespace exel::hub
