// Debian's chromium, headless, driven over the DevTools protocol on one
// QWebSocket: pages (each in its own browser context when asked, so two
// operators can be signed in at once), script evaluation, viewport sizes
// and screenshots. For the web panel's browser tests and benchmarks.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <map>
#include <memory>

namespace exel::hub::webtest {

inline QString chromiumBinary()
{
    const QByteArray env = qgetenv("EXEL_CHROMIUM");
    return env.isEmpty() ? QStringLiteral("/usr/bin/chromium") : QString::fromLocal8Bit(env);
}

class CdpBrowser {
public:
    ~CdpBrowser() { stop(); }

    // Starts the browser and connects to it; false with the reason.
    bool start(QString *error)
    {
        if (!m_profile.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(chromiumBinary(),
            { QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                QStringLiteral("--no-first-run"), QStringLiteral("--no-default-browser-check"),
                QStringLiteral("--disable-extensions"), QStringLiteral("--disable-background-networking"),
                QStringLiteral("--disable-dev-shm-usage"), QStringLiteral("--remote-debugging-address=127.0.0.1"),
                QStringLiteral("--remote-debugging-port=0"), QStringLiteral("--user-data-dir=") + m_profile.path(),
                QStringLiteral("about:blank") });
        if (!m_process.waitForStarted(10000)) {
            *error = QStringLiteral("chromium does not start: ") + m_process.errorString();
            return false;
        }
        // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/ID"
        static const QRegularExpression re(QStringLiteral("DevTools listening on (ws://\\S+)"));
        QByteArray err;
        QElapsedTimer t;
        t.start();
        QString url;
        while (url.isEmpty() && t.elapsed() < 20000) {
            if (!m_process.waitForReadyRead(200) && m_process.state() != QProcess::Running)
                break;
            err += m_process.readAllStandardError();
            const auto m = re.match(QString::fromUtf8(err));
            if (m.hasMatch())
                url = m.captured(1);
        }
        if (url.isEmpty()) {
            *error = QStringLiteral("chromium gave no DevTools address: ") + QString::fromUtf8(err.left(2000));
            return false;
        }
        QObject::connect(&m_ws, &QWebSocket::textMessageReceived, [this](const QString &text) { onMessage(text); });
        m_ws.setMaxAllowedIncomingMessageSize(256 * 1024 * 1024);
        m_ws.setMaxAllowedIncomingFrameSize(256 * 1024 * 1024);
        m_ws.open(QUrl(url));
        QEventLoop loop;
        QObject::connect(&m_ws, &QWebSocket::connected, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        if (m_ws.state() != QAbstractSocket::ConnectedState) {
            *error = QStringLiteral("cannot reach chromium's DevTools at ") + url;
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_ws.abort();
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // One DevTools command; the result, or an object with "error".
    QJsonObject call(const QString &method, const QJsonObject &params = {}, const QString &session = {},
        int timeoutMs = 15000)
    {
        const int id = ++m_nextId;
        QJsonObject msg { { QStringLiteral("id"), id }, { QStringLiteral("method"), method },
            { QStringLiteral("params"), params } };
        if (!session.isEmpty())
            msg.insert(QStringLiteral("sessionId"), session);
        m_ws.sendTextMessage(QString::fromUtf8(QJsonDocument(msg).toJson(QJsonDocument::Compact)));
        QElapsedTimer t;
        t.start();
        while (!m_replies.count(id) && t.elapsed() < timeoutMs && m_ws.state() == QAbstractSocket::ConnectedState)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto it = m_replies.find(id);
        if (it == m_replies.end())
            return QJsonObject { { QStringLiteral("error"), QStringLiteral("no answer to ") + method } };
        QJsonObject r = it->second;
        m_replies.erase(it);
        return r.contains(QStringLiteral("error")) ? QJsonObject { { QStringLiteral("error"), r.value(QStringLiteral("error")) } }
                                                   : r.value(QStringLiteral("result")).toObject();
    }

    // A new page (in a fresh browser context when isolated: its own cookies);
    // returns its session id.
    QString newPage(const QString &url, bool isolated = false, int width = 1280, int height = 800)
    {
        QJsonObject create { { QStringLiteral("url"), QStringLiteral("about:blank") } };
        if (isolated) {
            const QString ctx = call(QStringLiteral("Target.createBrowserContext")).value(QStringLiteral("browserContextId")).toString();
            create.insert(QStringLiteral("browserContextId"), ctx);
        }
        const QString target = call(QStringLiteral("Target.createTarget"), create).value(QStringLiteral("targetId")).toString();
        const QString session = call(QStringLiteral("Target.attachToTarget"),
            { { QStringLiteral("targetId"), target }, { QStringLiteral("flatten"), true } })
                                    .value(QStringLiteral("sessionId"))
                                    .toString();
        call(QStringLiteral("Page.enable"), {}, session);
        call(QStringLiteral("Runtime.enable"), {}, session);
        resize(session, width, height);
        navigate(session, url);
        return session;
    }

    void resize(const QString &session, int width, int height)
    {
        call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
            { { QStringLiteral("width"), width }, { QStringLiteral("height"), height },
                { QStringLiteral("deviceScaleFactor"), 1 }, { QStringLiteral("mobile"), width < 800 } },
            session);
        if (width < 800)
            call(QStringLiteral("Emulation.setTouchEmulationEnabled"), { { QStringLiteral("enabled"), true } }, session);
    }

    void navigate(const QString &session, const QString &url)
    {
        call(QStringLiteral("Page.navigate"), { { QStringLiteral("url"), url } }, session);
    }

    // Evaluates a script (promises awaited); its value.
    QJsonValue eval(const QString &session, const QString &script)
    {
        const QJsonObject r = call(QStringLiteral("Runtime.evaluate"),
            { { QStringLiteral("expression"), script }, { QStringLiteral("awaitPromise"), true },
                { QStringLiteral("returnByValue"), true } },
            session);
        if (r.contains(QStringLiteral("exceptionDetails")))
            return QJsonValue(QStringLiteral("exception: ")
                + r.value(QStringLiteral("exceptionDetails")).toObject().value(QStringLiteral("text")).toString()
                + QLatin1Char(' ')
                + r.value(QStringLiteral("exceptionDetails")).toObject().value(QStringLiteral("exception")).toObject().value(QStringLiteral("description")).toString());
        return r.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
    }

    // Waits until a script's value is true.
    bool waitFor(const QString &session, const QString &script, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (eval(session, script).toBool())
                return true;
            QElapsedTimer pause;
            pause.start();
            while (pause.elapsed() < 40)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return false;
    }

    bool screenshot(const QString &session, const QString &file)
    {
        const QJsonObject r = call(QStringLiteral("Page.captureScreenshot"), { { QStringLiteral("format"), QStringLiteral("png") } }, session);
        const QByteArray png = QByteArray::fromBase64(r.value(QStringLiteral("data")).toString().toLatin1());
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        return !png.isEmpty() && f.open(QIODevice::WriteOnly) && f.write(png) == png.size();
    }

    // Messages the page wrote to its console, for a failing test's report.
    QStringList console;

private:
    void onMessage(const QString &text)
    {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        if (o.contains(QStringLiteral("id"))) {
            m_replies[o.value(QStringLiteral("id")).toInt()] = o;
            return;
        }
        const QString method = o.value(QStringLiteral("method")).toString();
        if (method == QLatin1String("Runtime.exceptionThrown"))
            console << QString::fromUtf8(QJsonDocument(o.value(QStringLiteral("params")).toObject()).toJson(QJsonDocument::Compact)).left(500);
        else if (method == QLatin1String("Runtime.consoleAPICalled"))
            console << QString::fromUtf8(QJsonDocument(o.value(QStringLiteral("params")).toObject().value(QStringLiteral("args")).toArray()).toJson(QJsonDocument::Compact)).left(500);
    }

    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_ws;
    int m_nextId = 0;
    std::map<int, QJsonObject> m_replies;
};

} // namespace exel::hub::webtest
