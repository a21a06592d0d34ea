// The hub's INI reader and its key table.
#include "hubconfig.h"

#include "mqttprotocol.h"
#include "wirepacing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <functional>
#include <set>

namespace exel::hub {

namespace {

using Setter = std::function<bool(HubConfig &, LineConfig *, const QString &value, QString &why)>;

struct Key {
    const char *section; // "hub", "line", "panel", "videohub", "mqtt", "web", "operator", "journal"
    const char *name;
    const char *defaultText;
    const char *help;
    Setter set;
};

bool toInt(const QString &v, int lo, int hi, int &out, QString &why)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    if (!ok || n < lo || n > hi) {
        why = QStringLiteral("\"%1\" is not a whole number from %2 to %3").arg(v).arg(lo).arg(hi);
        return false;
    }
    out = n;
    return true;
}

bool toShare(const QString &v, double &out, QString &why)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || d < 0 || d > 1) {
        why = QStringLiteral("\"%1\" is not a share from 0 to 1").arg(v);
        return false;
    }
    out = d;
    return true;
}

bool toBool(const QString &v, bool &out, QString &why)
{
    const QString l = v.toLower();
    if (l == QLatin1String("true") || l == QLatin1String("yes") || l == QLatin1String("on") || l == QLatin1String("1"))
        out = true;
    else if (l == QLatin1String("false") || l == QLatin1String("no") || l == QLatin1String("off")
        || l == QLatin1String("0"))
        out = false;
    else {
        why = QStringLiteral("\"%1\" is not true or false").arg(v);
        return false;
    }
    return true;
}

bool parseListen(const QString &v, QHostAddress &address, quint16 &port, QString &why)
{
    const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? v : v.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int n = colon < 0 ? 0 : v.mid(colon + 1).toInt(&ok);
    const QHostAddress a(host);
    if (colon < 0 || !ok || n < 1 || n > 65535 || a.isNull()) {
        why = QStringLiteral("\"%1\" is not an address:port (e.g. 127.0.0.1:8080)").arg(v);
        return false;
    }
    address = a;
    port = static_cast<quint16>(n);
    return true;
}

template <typename F> Setter lineInt(int lo, int hi, F apply)
{
    return [lo, hi, apply](HubConfig &, LineConfig *l, const QString &v, QString &why) {
        int n = 0;
        if (!toInt(v, lo, hi, n, why))
            return false;
        apply(*l, n);
        return true;
    };
}

const std::vector<Key> &keys()
{
    static const std::vector<Key> table {
        { "hub", "name", "xelhub", "name of this hub in the log",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.name = v;
                return true;
            } },
        { "hub", "data", "$XDG_DATA_HOME/xelhub", "data folder: the take journal and each line's settings",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.dataDir = v;
                return true;
            } },
        { "hub", "router", "(required)",
            "the router's configuration file (.CFG, the panel's format), or \"auto\" to ask the controller of the "
            "first "
            "line for it at start",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.router = v;
                return true;
            } },
        { "hub", "salvos", "<data>/salvos", "folder of the salvo files (.PRE, the panel's format) clients may fire",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.salvoDir = v;
                return true;
            } },
        { "hub", "stale_seconds", "10", "an output read longer ago is polled before a client's question is answered",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 3600, n, why))
                    return false;
                c.freshness.statusStaleMs = n * 1000;
                return true;
            } },
        { "hub", "lock_stale_seconds", "30", "likewise for a controller's lock table",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 3600, n, why))
                    return false;
                c.freshness.locksStaleMs = n * 1000;
                return true;
            } },
        { "line", "port", "COM1",
            "the line's port, COM1 to COM4; the per-user port map (~/.config/tolcom-ports.conf) may lead it to a "
            "network "
            "serial server (tcp:// or rfc2217://)",
            [](HubConfig &, LineConfig *l, const QString &v, QString &why) {
                const QString u = v.toUpper();
                bool ok = false;
                const int n = u.startsWith(QLatin1String("COM")) ? u.mid(3).toInt(&ok) : 0;
                if (!ok || n < 1 || n > 4) {
                    why = QStringLiteral("\"%1\" is not a port COM1 to COM4").arg(v);
                    return false;
                }
                l->serial.port = n;
                return true;
            } },
        { "line", "settings", "9600,N,8,2", "line settings: baud,parity,data bits,stop bits",
            [](HubConfig &, LineConfig *l, const QString &v, QString &why) {
                WireSettings w;
                if (!parseWireSettings(v, w, why))
                    return false;
                l->serial.lineSettings = v;
                return true;
            } },
        { "line", "phone", "(none)", "phone number of a dial-up controller; the line is then dialled through its modem",
            [](HubConfig &, LineConfig *l, const QString &v, QString &) {
                l->serial.phone = v;
                return true;
            } },
        { "line", "modem_type", "(first of the modem list)", "the modem's name in the engine's modem list",
            [](HubConfig &, LineConfig *l, const QString &v, QString &) {
                l->serial.modemType = v;
                return true;
            } },
        { "line", "modem_init", "(the modem list's)", "modem initialisation command",
            [](HubConfig &, LineConfig *l, const QString &v, QString &) {
                l->serial.modemInit = v;
                return true;
            } },
        { "line", "modem_hang", "(the modem list's)", "modem hang-up command",
            [](HubConfig &, LineConfig *l, const QString &v, QString &) {
                l->serial.modemHang = v;
                return true;
            } },
        { "line", "controllers", "(all)", "addresses of the controllers on this line, e.g. 0,1",
            [](HubConfig &, LineConfig *l, const QString &v, QString &why) {
                l->controllers.clear();
                for (const QString &part : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    int n = 0;
                    if (!toInt(part.trimmed(), 0, 32767, n, why))
                        return false;
                    l->controllers.push_back(static_cast<int16_t>(n));
                }
                return true;
            } },
        { "line", "answer_timeout_ms", "2000", "how long the line waits for one answer",
            lineInt(100, 60000, [](LineConfig &l, int n) { l.options.answerTimeoutMs = n; }) },
        { "line", "watch_seconds", "5", "a destination a client asked about is kept fresh this long",
            lineInt(0, 3600, [](LineConfig &l, int n) { l.options.watchMs = n * 1000; }) },
        { "line", "watch_refresh_ms", "400", "a watched destination is read again after this",
            lineInt(0, 60000, [](LineConfig &l, int n) { l.options.watchRefreshMs = n; }) },
        { "line", "watch_share", "0.5", "the most of the line that watched destinations may take",
            [](HubConfig &, LineConfig *l, const QString &v, QString &why) {
                return toShare(v, l->options.watchShare, why);
            } },
        { "line", "lock_share", "0.1", "the most of the line that lock tables may take",
            [](HubConfig &, LineConfig *l, const QString &v, QString &why) {
                return toShare(v, l->options.lockShare, why);
            } },
        { "line", "lock_refresh_ms", "1000", "each lock table is read at most this often",
            lineInt(0, 3600000, [](LineConfig &l, int n) { l.options.lockRefreshMs = n; }) },
        { "line", "sweep_pause_ms", "0", "rest after each full sweep of the router (0: sweep continuously)",
            lineInt(0, 3600000, [](LineConfig &l, int n) { l.options.sweepPauseMs = n; }) },
        { "line", "reopen_seconds", "5", "a port that closed or did not open is opened again this often",
            lineInt(1, 3600, [](LineConfig &l, int n) { l.options.reopenMs = n * 1000; }) },
        { "line", "redial_seconds", "30", "a dial-up line that did not connect is dialled again after this",
            lineInt(1, 86400, [](LineConfig &l, int n) { l.options.redialMs = n * 1000; }) },
        { "panel", "enabled", "true", "serve the controller protocol to panels",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toBool(v, c.panelEnabled, why); } },
        { "panel", "listen", "127.0.0.1:4001",
            "address and port the panel server listens on (a panel's port map: COM1 = tcp://<hub>:4001)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
                QString host = colon < 0 ? v : v.left(colon);
                if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
                    host = host.mid(1, host.size() - 2);
                bool ok = false;
                const int port = colon < 0 ? 0 : v.mid(colon + 1).toInt(&ok);
                const QHostAddress a(host);
                if (colon < 0 || !ok || port < 1 || port > 65535 || a.isNull()) {
                    why = QStringLiteral("\"%1\" is not an address:port (e.g. 127.0.0.1:4001)").arg(v);
                    return false;
                }
                c.panel.address = a;
                c.panel.port = static_cast<quint16>(port);
                return true;
            } },
        { "panel", "allow", "127.0.0.0/8, ::1",
            "addresses and networks clients may connect from (\"any\" for all); keep it narrow on a live router",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                QString bad;
                if (!c.panel.allow.parse(v, &bad) || c.panel.allow.text().isEmpty()) {
                    why = QStringLiteral("\"%1\" is not an address or network").arg(bad.isEmpty() ? v : bad);
                    return false;
                }
                return true;
            } },
        { "panel", "max_clients", "256", "clients at once; more are refused",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 1, 10000, c.panel.maxClients, why);
            } },
        { "panel", "max_queued", "32", "requests a client may have waiting before it counts as flooding",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 1, 10000, c.panel.maxQueued, why);
            } },
        { "panel", "output_buffer", "65536", "unsent answer bytes after which a client counts as not reading",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 256, 64 * 1024 * 1024, n, why))
                    return false;
                c.panel.maxOutput = n;
                return true;
            } },
        { "panel", "request_rate", "100", "requests a second a client may send, sustained",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 100000, n, why))
                    return false;
                c.panel.requestRate = n;
                return true;
            } },
        { "panel", "request_burst", "200", "requests a client may send in one burst",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 100000, n, why))
                    return false;
                c.panel.requestBurst = n;
                return true;
            } },
        { "panel", "answer_deadline_ms", "1500",
            "a question the line has not answered by then gets no answer (the panel has timed out)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 100, 60000, c.panel.answerDeadlineMs, why);
            } },
        { "videohub", "levels", "(required)",
            "the level shown, or levels taken together as one (\"VIDEO+AUD-A+AUD-B\": a route is taken on all of "
            "them, the first numbers the ports)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                if (v.isEmpty()) {
                    why = QStringLiteral("a level name is needed");
                    return false;
                }
                c.videohubs.back().levels = v;
                return true;
            } },
        { "videohub", "address", "127.0.0.1", "address the listener binds to",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                const QHostAddress a(v);
                if (a.isNull()) {
                    why = QStringLiteral("\"%1\" is not an address").arg(v);
                    return false;
                }
                c.videohubs.back().address = a;
                return true;
            } },
        { "videohub", "port", "9990",
            "TCP port of the listener (9991 is refused: Blackmagic panels use it for their settings)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 65535, n, why))
                    return false;
                if (n == 9991) {
                    why = QStringLiteral("9991 is Blackmagic panels' settings port; choose another");
                    return false;
                }
                c.videohubs.back().port = static_cast<quint16>(n);
                return true;
            } },
        { "videohub", "allow", "127.0.0.0/8, ::1", "addresses and networks clients may connect from (\"any\" for all)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                QString bad;
                AllowList &allow = c.videohubs.back().allow;
                if (!allow.parse(v, &bad) || allow.text().isEmpty()) {
                    why = QStringLiteral("\"%1\" is not an address or network").arg(bad.isEmpty() ? v : bad);
                    return false;
                }
                return true;
            } },
        { "videohub", "force_unlock", "false",
            "whether F (force a lock open) may open another client's lock; each one is journaled",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toBool(v, c.videohubs.back().forceUnlock, why);
            } },
        { "videohub", "labels", "refuse",
            "a label change from a client: refuse (NAK; names belong to the router's configuration) or ignore (ACK, "
            "and the configuration's labels sent back)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                const QString l = v.toLower();
                if (l == QLatin1String("refuse"))
                    c.videohubs.back().labels = VideohubServerOptions::Labels::Refuse;
                else if (l == QLatin1String("ignore"))
                    c.videohubs.back().labels = VideohubServerOptions::Labels::Ignore;
                else {
                    why = QStringLiteral("\"%1\" is not refuse or ignore").arg(v);
                    return false;
                }
                return true;
            } },
        { "videohub", "name", "<hub name> <levels>", "the friendly name clients show",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.videohubs.back().friendlyName = v;
                return true;
            } },
        { "videohub", "model", "xelhub <configuration name>", "the model name clients show",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.videohubs.back().model = v;
                return true;
            } },
        { "videohub", "max_clients", "256", "clients at once; more are refused",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 1, 10000, c.videohubs.back().maxClients, why);
            } },
        { "videohub", "output_buffer", "1048576", "unsent bytes after which a client counts as not reading",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 65536, 64 * 1024 * 1024, n, why))
                    return false;
                c.videohubs.back().maxOutput = n;
                return true;
            } },
        { "videohub", "block_rate", "200", "blocks a second a client may send, sustained (twice that in one burst)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 100000, n, why))
                    return false;
                c.videohubs.back().blockRate = n;
                c.videohubs.back().blockBurst = 2.0 * n;
                return true;
            } },
        { "mqtt", "enabled", "false", "publish the router's state on an MQTT broker and take commands from it",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toBool(v, c.mqttEnabled, why); } },
        { "mqtt", "host", "127.0.0.1", "the broker's host name or address",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                if (v.isEmpty() || v.contains(QLatin1Char(' '))) {
                    why = QStringLiteral("\"%1\" is not a host name or address").arg(v);
                    return false;
                }
                c.mqtt.host = v;
                return true;
            } },
        { "mqtt", "port", "1883", "the broker's port (8883 is the usual one for TLS)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toInt(v, 1, 65535, c.mqtt.port, why); } },
        { "mqtt", "client_id", "xelhub-<hub name>", "the hub's client id; every hub on one broker needs its own",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                if (v.isEmpty() || v.toUtf8().size() > 65535) {
                    why = QStringLiteral("the client id must not be empty");
                    return false;
                }
                c.mqtt.clientId = v;
                return true;
            } },
        { "mqtt", "username", "(none)", "the hub's account on the broker",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.username = v;
                return true;
            } },
        { "mqtt", "password", "(none)", "its password (keep this file readable by the hub's user only)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.password = v;
                return true;
            } },
        { "mqtt", "ca_file", "(none: no TLS)", "CA certificate(s) to check the broker with; TLS when set",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.caFile = v;
                return true;
            } },
        { "mqtt", "cert_file", "(none)", "the hub's client certificate, for a broker that asks for one",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.certFile = v;
                return true;
            } },
        { "mqtt", "key_file", "(none)", "the client certificate's private key",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.keyFile = v;
                return true;
            } },
        { "mqtt", "prefix", "exel/<hub name>", "the topic every message of this hub is under",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                if (!mqtt::validPrefix(v, &why))
                    return false;
                c.mqtt.prefix = v;
                return true;
            } },
        { "mqtt", "keepalive", "30", "seconds between keepalive pings; a broker that stops answering is left after 1.5 times this",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toInt(v, 5, 3600, c.mqtt.keepaliveS, why); } },
        { "mqtt", "reconnect_min_seconds", "1", "first wait before connecting again to a lost broker; it doubles each try",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toInt(v, 1, 3600, c.mqtt.reconnectMinS, why); } },
        { "mqtt", "reconnect_max_seconds", "30", "longest wait between tries",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toInt(v, 1, 3600, c.mqtt.reconnectMaxS, why); } },
        { "mqtt", "qos", "1", "QoS of the retained state, the journal and the replies (0 or 1)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toInt(v, 0, 1, c.mqtt.stateQos, why); } },
        { "mqtt", "max_command_bytes", "8192", "a longer command gets an error reply",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 64, 1024 * 1024, c.mqtt.maxCommandBytes, why);
            } },
        { "mqtt", "operators", "(anyone the broker lets publish)",
            "broker users who may command, e.g. mcr, studio1; each sends on <prefix>/command/<user>",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.mqtt.operators.clear();
                for (const QString &u : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
                    c.mqtt.operators << u.trimmed();
                return true;
            } },
        { "mqtt", "command_rate", "20", "commands a second one user may send, sustained",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 100000, n, why))
                    return false;
                c.mqtt.commandRate = n;
                return true;
            } },
        { "mqtt", "command_burst", "50", "commands one user may send in one burst",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 100000, n, why))
                    return false;
                c.mqtt.commandBurst = n;
                return true;
            } },
        { "web", "enabled", "false", "serve the web panel (needs at least one [operator NAME])",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) { return toBool(v, c.webEnabled, why); } },
        { "web", "listen", "127.0.0.1:8080", "address and port of the web panel (http://<hub>:8080/)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return parseListen(v, c.web.address, c.web.port, why);
            } },
        { "web", "allow", "127.0.0.0/8, ::1", "addresses and networks browsers may connect from (\"any\" for all)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                QString bad;
                if (!c.web.allow.parse(v, &bad) || c.web.allow.text().isEmpty()) {
                    why = QStringLiteral("\"%1\" is not an address or network").arg(bad.isEmpty() ? v : bad);
                    return false;
                }
                return true;
            } },
        { "web", "www", "(share/exel/www beside the program)", "folder of the page's files",
            [](HubConfig &c, LineConfig *, const QString &v, QString &) {
                c.web.wwwFolder = v;
                return true;
            } },
        { "web", "session_minutes", "480", "a sign-in unused this long ends",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 7 * 24 * 60, n, why))
                    return false;
                c.web.sessionIdleMs = int64_t(n) * 60000;
                return true;
            } },
        { "web", "max_clients", "256", "connections and open pages at once; more are refused",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toInt(v, 1, 10000, c.web.maxClients, why);
            } },
        { "web", "message_rate", "20", "commands a second one page may send, sustained (bursts of three times that)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 1, 10000, n, why))
                    return false;
                c.web.messageRate = n;
                c.web.messageBurst = 3.0 * n;
                return true;
            } },
        { "operator", "password", "(required)",
            "[operator NAME]: the operator's password hash, as `xelhub passwd` prints it (never the password)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                if (!validPasswordHash(v)) {
                    why = QStringLiteral("not a password hash (make one with: xelhub passwd)");
                    return false;
                }
                c.web.operators.back().passwordHash = v;
                return true;
            } },
        { "operator", "role", "operator", "[operator NAME]: \"operator\" (may route, lock, fire salvos) or \"view only\"",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                const QString l = v.simplified().toLower();
                if (l == QLatin1String("operator"))
                    c.web.operators.back().role = OperatorRole::Operator;
                else if (l == QLatin1String("view only") || l == QLatin1String("view-only") || l == QLatin1String("view"))
                    c.web.operators.back().role = OperatorRole::ViewOnly;
                else {
                    why = QStringLiteral("\"%1\" is not operator or view only").arg(v);
                    return false;
                }
                return true;
            } },
        { "operator", "force_release", "false", "[operator NAME]: may open a lock another operator holds",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                return toBool(v, c.web.operators.back().forceRelease, why);
            } },
        { "journal", "max_entries", "100000", "entries kept; older ones are removed",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 100, 100000000, n, why))
                    return false;
                c.journal.maxEntries = n;
                return true;
            } },
        { "journal", "max_age_days", "90", "entries older than this are removed (0: keep by count only)",
            [](HubConfig &c, LineConfig *, const QString &v, QString &why) {
                int n = 0;
                if (!toInt(v, 0, 36500, n, why))
                    return false;
                c.journal.maxAgeDays = n;
                return true;
            } },
    };
    return table;
}

} // namespace

QString HubConfig::dataFolder() const
{
    if (!dataDir.isEmpty())
        return dataDir;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/xelhub");
}

QString HubConfig::salvoFolder() const
{
    return salvoDir.isEmpty() ? dataFolder() + QStringLiteral("/salvos") : salvoDir;
}

QString ConfigProblem::text() const
{
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(reason)
                    : QStringLiteral("%1: %2").arg(file, reason);
}

bool parseHubConfig(const QString &path, const QByteArray &text, HubConfig &config, ConfigProblem &problem)
{
    config = HubConfig {};
    problem = ConfigProblem { path, 0, QString() };
    QString section;
    LineConfig *line = nullptr;
    std::set<QString> seen; // section/key pairs given
    std::set<QString> lineNames;
    std::vector<int> operatorLines; // where each [operator NAME] starts
    const QList<QByteArray> rows = text.split('\n');
    auto fail = [&](int n, const QString &why) {
        problem.line = n;
        problem.reason = why;
        return false;
    };
    for (int i = 0; i < rows.size(); ++i) {
        const int n = i + 1;
        const QString row = QString::fromUtf8(rows[i]).trimmed();
        if (row.isEmpty() || row.startsWith(QLatin1Char(';')) || row.startsWith(QLatin1Char('#')))
            continue;
        if (row.startsWith(QLatin1Char('['))) {
            if (!row.endsWith(QLatin1Char(']')))
                return fail(n, QStringLiteral("a section header must end with \"]\""));
            const QStringList words = row.mid(1, row.size() - 2).simplified().split(QLatin1Char(' '));
            section = words.value(0).toLower();
            if (section == QLatin1String("line")) {
                const QString name = words.size() > 1 ? words.mid(1).join(u' ') : QStringLiteral("main");
                if (!lineNames.insert(name).second)
                    return fail(n, QStringLiteral("line \"%1\" is described twice").arg(name));
                config.lines.emplace_back();
                line = &config.lines.back();
                line->serial.name = name;
            } else if (section == QLatin1String("videohub")) {
                // One listener per section; [videohub NAME] names it in the log.
                config.videohubs.emplace_back();
                if (words.size() > 1)
                    config.videohubs.back().name = words.mid(1).join(u' ');
                else
                    config.videohubs.back().name.clear();
            } else if (section == QLatin1String("operator")) {
                const QString name = words.mid(1).join(u' ');
                if (name.isEmpty())
                    return fail(n, QStringLiteral("[operator NAME] needs the operator's name"));
                for (const OperatorAccount &a : config.web.operators) {
                    if (a.name == name)
                        return fail(n, QStringLiteral("operator \"%1\" is described twice").arg(name));
                }
                config.web.operators.push_back(OperatorAccount { name, QString(), OperatorRole::Operator, false });
                operatorLines.push_back(n);
                section = QStringLiteral("operator/") + name;
            } else if (section != QLatin1String("hub") && section != QLatin1String("panel")
                && section != QLatin1String("mqtt") && section != QLatin1String("web")
                && section != QLatin1String("journal")) {
                return fail(n,
                    QStringLiteral("unknown section [%1] (sections: hub, line, line NAME, panel, videohub, videohub "
                                   "NAME, mqtt, web, operator NAME, journal)")
                        .arg(words.value(0)));
            } else if (words.size() > 1) {
                return fail(n, QStringLiteral("section [%1] takes no name").arg(section));
            }
            continue;
        }
        const qsizetype eq = row.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(n, QStringLiteral("expected key = value"));
        if (section.isEmpty())
            return fail(n, QStringLiteral("a key before the first section"));
        const QString key = row.left(eq).trimmed().toLower();
        const QString value = row.mid(eq + 1).trimmed();
        const Key *def = nullptr;
        const QString kind = section.section(QLatin1Char('/'), 0, 0);
        for (const Key &k : keys()) {
            if (kind == QLatin1String(k.section) && key == QLatin1String(k.name))
                def = &k;
        }
        if (!def)
            return fail(n, QStringLiteral("unknown key \"%1\" in [%2]").arg(key, QString(section).replace(u'/', u' ')));
        const QString id = section + QLatin1Char('/')
            + (line && section == QLatin1String("line") ? line->serial.name : QString())
            + (section == QLatin1String("videohub") ? QString::number(config.videohubs.size()) : QString())
            + QLatin1Char('/') + key;
        if (!seen.insert(id).second)
            return fail(n, QStringLiteral("key \"%1\" given twice").arg(key));
        QString why;
        if (!def->set(config, line, value, why))
            return fail(n, QStringLiteral("%1: %2").arg(key, why));
    }
    for (size_t i = 0; i < config.web.operators.size(); ++i) {
        if (config.web.operators[i].passwordHash.isEmpty())
            return fail(operatorLines[i],
                QStringLiteral("operator \"%1\" has no password (make one with: xelhub passwd)")
                    .arg(config.web.operators[i].name));
    }
    if (!config.web.wwwFolder.isEmpty())
        config.web.wwwFolder = QFileInfo(path).absoluteDir().absoluteFilePath(config.web.wwwFolder);
    if (config.router.isEmpty())
        return fail(0, QStringLiteral("[hub] router is required: the router's configuration file, or \"auto\""));
    const QDir base = QFileInfo(path).absoluteDir();
    if (!config.autoConfigure())
        config.router = base.absoluteFilePath(config.router);
    if (!config.dataDir.isEmpty())
        config.dataDir = base.absoluteFilePath(config.dataDir);
    if (!config.salvoDir.isEmpty())
        config.salvoDir = base.absoluteFilePath(config.salvoDir);
    std::set<QString> listenerNames;
    std::set<int> listenerPorts { config.panelEnabled ? config.panel.port : -1 };
    for (VideohubServerOptions &v : config.videohubs) {
        if (v.levels.isEmpty())
            return fail(0,
                QStringLiteral("[videohub%1] needs levels = (a level, or levels joined by +)")
                    .arg(v.name.isEmpty() ? QString() : QLatin1Char(' ') + v.name));
        if (v.name.isEmpty())
            v.name = v.levels;
        if (!listenerNames.insert(v.name).second)
            return fail(0, QStringLiteral("videohub listener \"%1\" is described twice").arg(v.name));
        if (!listenerPorts.insert(v.port).second)
            return fail(
                0, QStringLiteral("videohub %1: port %2 is already used by another listener").arg(v.name).arg(v.port));
    }
    for (QString *file : { &config.mqtt.caFile, &config.mqtt.certFile, &config.mqtt.keyFile }) {
        if (!file->isEmpty())
            *file = base.absoluteFilePath(*file);
    }
    if (config.mqtt.certFile.isEmpty() != config.mqtt.keyFile.isEmpty())
        return fail(0, QStringLiteral("[mqtt] cert_file and key_file go together"));
    if (config.lines.empty()) {
        config.lines.emplace_back();
        config.lines.back().serial.name = QStringLiteral("main");
    }
    // Two lines on one port, or one controller on two lines, cannot work.
    std::set<int> ports;
    std::set<int> addresses;
    for (const LineConfig &l : config.lines) {
        if (!ports.insert(l.serial.port).second)
            return fail(0, QStringLiteral("two lines on COM%1").arg(l.serial.port));
        for (const int16_t a : l.controllers) {
            if (!addresses.insert(a).second)
                return fail(0, QStringLiteral("controller %1 is on two lines").arg(a));
        }
    }
    if (config.lines.size() > 1) {
        for (const LineConfig &l : config.lines) {
            if (l.controllers.empty())
                return fail(0,
                    QStringLiteral("line \"%1\": with several lines each must name its controllers")
                        .arg(l.serial.name));
        }
    }
    return true;
}

bool readHubConfig(const QString &path, HubConfig &config, ConfigProblem &problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        problem = ConfigProblem { path, 0, f.errorString() };
        return false;
    }
    return parseHubConfig(path, f.readAll(), config, problem);
}

QString hubConfigHelp()
{
    QString out;
    QString section;
    for (const Key &k : keys()) {
        if (section != QLatin1String(k.section)) {
            section = QLatin1String(k.section);
            out += (out.isEmpty() ? QString() : QStringLiteral("\n"))
                + (section == QLatin1String("line")
                        ? QStringLiteral("[line] or [line NAME] (one per controller line)\n")
                        : section == QLatin1String("videohub")
                        ? QStringLiteral("[videohub] or [videohub NAME] (one per Videohub listener; none by default)\n")
                        : section == QLatin1String("operator")
                        ? QStringLiteral("[operator NAME] (one per web panel operator)\n")
                        : QStringLiteral("[%1]\n").arg(section));
        }
        out += QStringLiteral("  %1 = %2\n      %3\n")
                   .arg(QLatin1String(k.name), QLatin1String(k.defaultText), QLatin1String(k.help));
    }
    return out;
}

} // namespace exel::hub
