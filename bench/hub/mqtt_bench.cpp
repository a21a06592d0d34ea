// The hub's MQTT server against the real mosquitto broker on loopback:
//  - a change at the controller to the state message at a subscriber, less
//    the emulator's wire time (timed from the moment the hub has the line's
//    answer), against a plain libmosquitto publish of the same payload to the
//    same subscriber, interleaved;
//  - the start-up publication of a 999 x 999 x 4 router (about 4,000
//    retained messages) until a subscriber has them all, against the same
//    messages published by a plain libmosquitto client, interleaved; and the
//    broker's memory after it.
// MQTT_BENCH_CHANGES sets how many changes are timed (default 60).
#include "../benchkit.h"
#include "hubbench.h"
#include "configreader.h"
#include "hubharness.h"
#include "mqttserver.h"
#include "mqtttesting.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

using namespace exel;
using namespace exel::hub;
using namespace exel::hubbench;
using Steady = std::chrono::steady_clock;

namespace exel::test {
QString g_benchDir;
QString tempHome()
{
    return g_benchDir;
}
} // namespace exel::test

namespace {

double ms(Steady::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

QString mqttKeys(const mqtttest::Broker &broker)
{
    return QStringLiteral("[mqtt]\nenabled = true\nport = %1\nusername = hub\npassword = %2\nprefix = exel/hub\n")
        .arg(broker.port())
        .arg(mqtttest::Broker::password(QStringLiteral("hub")));
}

// ---- 1. change to message
void changeToMessage(mqtttest::Broker &broker, int changes)
{
    hubtest::HubHarness h;
    h.ini += mqttKeys(broker);
    QString error;
    if (!h.startEmulator() || !h.startHub(&error)) {
        std::printf("change: hub did not start: %s\n", qPrintable(error));
        return;
    }
    mqtttest::waitFor([&] { return h.line().sweepsDone() >= 1 && h.hub.mqttServer()->connected(); }, 20000);
    mqtttest::Client sub(QStringLiteral("viewer-bench"), QStringLiteral("viewer"), broker.port());
    mqtttest::Client ref(QStringLiteral("hub-ref"), QStringLiteral("hub"), broker.port());
    if (sub.connect() != 0 || ref.connect() != 0 || !sub.subscribe(QStringLiteral("exel/hub/+/destination/+"))
        || !sub.subscribe(QStringLiteral("exel/hub/ref"))) {
        std::printf("change: clients did not connect\n");
        return;
    }
    mqtttest::waitFor([&] { return sub.count() >= 64; }, 10000);
    Steady::time_point changedAt;
    QObject::connect(&h.hub.state(), &RouterState::crosspointChanged,
        [&](int16_t, int, int, int, bool, int) { changedAt = Steady::now(); });
    const QString topic = QStringLiteral("exel/hub/VIDEO/destination/PGM");
    std::vector<double> product, reference;
    QByteArray lastPayload = "{}";
    for (int i = 0; i < changes; ++i) {
        auto runProduct = [&] {
            sub.clear();
            h.emu(QStringLiteral("route 0 1 1 %1").arg(i % 30 + 1).toLatin1());
            if (!mqtttest::waitFor([&] { return !sub.on(topic).empty(); }, 10000))
                return;
            const mqtttest::Received r = sub.on(topic).front();
            product.push_back(ms(r.at - changedAt));
            lastPayload = r.payload;
        };
        auto runReference = [&] {
            sub.clear();
            const Steady::time_point t0 = Steady::now();
            ref.send(QStringLiteral("exel/hub/ref"), lastPayload, 1, true);
            if (mqtttest::waitFor([&] { return sub.count() >= 1; }, 10000))
                reference.push_back(ms(sub.received().front().at - t0));
        };
        benchkit::alternate(i, runProduct, runReference);
    }
    const double pm = benchkit::median(product), rm = benchkit::median(reference);
    const double p99 = percentile(product, 0.99), r99 = percentile(reference, 0.99);
    std::printf("change at the controller -> subscriber, less wire time (%zu changes): median %.3f ms, p99 %.3f ms\n",
        product.size(), pm, p99);
    std::printf("  reference (plain publish -> subscriber): median %.3f ms, p99 %.3f ms; ratio median %.2f, p99 %.2f\n",
        rm, r99, rm > 0 ? pm / rm : 0, r99 > 0 ? p99 / r99 : 0);
}

// ---- 2. start-up publication of a big router
QString writeBigRouter(const QString &dir)
{
    QStringList lines { QStringLiteral("CTL,BIG,0,4") };
    const char *levels[] = { "VIDEO", "AUD-A", "AUD-B", "TC" };
    for (int l = 0; l < 4; ++l)
        lines << QStringLiteral("LVL,%1,BIG,%2,999,999").arg(QLatin1String(levels[l])).arg(l + 1);
    for (int i = 1; i <= 999; ++i) {
        for (int l = 0; l < 4; ++l) {
            lines << QStringLiteral("SRC,IN%1,%2,%1").arg(i).arg(QLatin1String(levels[l]));
            lines << QStringLiteral("DST,OUT%1,%2,%1").arg(i).arg(QLatin1String(levels[l]));
        }
    }
    const QString path = dir + QStringLiteral("/big.cfg");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
    return path;
}

qint64 rssKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

void startUpPublication(mqtttest::Broker &broker, const QString &dir, int runs)
{
    StatandConfig model;
    const ConfigLoadResult r = LoadConfigFile(model, writeBigRouter(dir));
    if (!r.ok()) {
        std::printf("start-up: the big router does not load: %s\n", qPrintable(r.reason));
        return;
    }
    RouterState state(model);
    Journal journal;
    QString error;
    journal.open(dir + QStringLiteral("/journal"), JournalLimits {}, &error);
    SystemClock &clock = SystemClock::instance();
    HubCore core(state, journal, clock);
    // Every output read: 999 outputs, each on four levels.
    for (int o = 1; o <= 999; ++o)
        state.statusRead(0, o, { static_cast<int16_t>(o), static_cast<int16_t>(o), 0, 1 }, { false, false, false, false },
            clock.nowMs());
    state.locksRead(0, std::vector<bool>(999, false), clock.nowMs());

    MqttOptions options;
    options.port = broker.port();
    options.username = QStringLiteral("hub");
    options.password = mqtttest::Broker::password(QStringLiteral("hub"));
    options.prefix = QStringLiteral("exel/hub");
    options.clientId = QStringLiteral("xelhub-big");

    mqtttest::Client sub(QStringLiteral("viewer-big"), QStringLiteral("viewer"), broker.port());
    if (sub.connect() != 0 || !sub.subscribe(QStringLiteral("exel/hub/#"))) {
        std::printf("start-up: subscriber did not connect\n");
        return;
    }
    // The reference publishes exactly the hub's messages (taken from the
    // first product run) under a topic of its own.
    std::vector<std::pair<QString, QByteArray>> messages;
    int expected = 0;
    std::vector<double> product, reference, queued;
    for (int i = 0; i < runs; ++i) {
        auto runProduct = [&] {
            sub.clear();
            MqttServer server(core, options);
            expected = server.retainedCount();
            const Steady::time_point t0 = Steady::now();
            if (!server.start(&error)) {
                std::printf("  run %d: the server did not start: %s\n", i, qPrintable(error));
                return;
            }
            Steady::time_point published;
            QObject::connect(&server, &MqttServer::republished, [&] { published = Steady::now(); });
            if (!mqtttest::waitFor([&] { return static_cast<int>(sub.count()) >= expected; }, 30000)) {
                std::printf("  run %d: %zu of %d messages arrived\n", i, sub.count(), expected);
                return;
            }
            product.push_back(ms(Steady::now() - t0));
            queued.push_back(ms(published - t0));
            if (messages.empty()) {
                for (const mqtttest::Received &m : sub.received())
                    messages.emplace_back(QStringLiteral("exel/hub/ref/") + m.topic.mid(9), m.payload);
            }
            server.stop();
            mqtttest::waitFor([&] { return static_cast<int>(sub.count()) >= expected + 1; }, 2000); // the will
        };
        auto runReference = [&] {
            if (messages.empty())
                return;
            sub.clear();
            const Steady::time_point t0 = Steady::now();
            mqtttest::Client pub(QStringLiteral("hub-ref"), QStringLiteral("hub"), broker.port());
            if (pub.connect() != 0)
                return;
            for (const auto &[topic, payload] : messages)
                pub.send(topic, payload, 1, true);
            if (mqtttest::waitFor([&] { return sub.count() >= messages.size(); }, 30000))
                reference.push_back(ms(Steady::now() - t0));
        };
        // The reference needs the hub's messages: the product goes first once.
        if (i == 0)
            runProduct(), runReference();
        else
            benchkit::alternate(i, runProduct, runReference);
    }
    const double pm = benchkit::median(product), rm = benchkit::median(reference);
    std::printf("start-up publication, 999 x 999 x 4 router (%d retained messages, %zu runs): median %.1f ms\n",
        expected, product.size(), pm);
    std::printf("  of which connecting and queueing every message in the hub: median %.1f ms\n", benchkit::median(queued));
    std::printf("  reference (plain client, same messages, QoS 1 retained): median %.1f ms; ratio %.2f\n", rm,
        rm > 0 ? pm / rm : 0);
    std::printf("  broker resident memory with both sets retained: %lld KiB\n", static_cast<long long>(rssKiB(broker.pid())));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    exel::test::g_benchDir = dir;
    qputenv("XDG_CONFIG_HOME", (dir + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", dir.toLocal8Bit());
    QDir().mkpath(dir + QStringLiteral("/config"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int changes
        = qEnvironmentVariableIsSet("MQTT_BENCH_CHANGES") ? qEnvironmentVariableIntValue("MQTT_BENCH_CHANGES") : 60;

    // A subscriber of a whole big router gets several thousand QoS 1
    // messages at once: more than the broker queues per client by default
    // (1000; past it the broker drops them for that client).
    mqtttest::Broker broker(
        dir + QStringLiteral("/broker"), { QStringLiteral("hub") }, QByteArrayLiteral("max_queued_messages 20000\n"));
    if (!broker.start()) {
        std::printf("the broker did not start:\n%s\n", qPrintable(broker.log()));
        return 1;
    }
    benchkit::printLoad("at start");
    changeToMessage(broker, changes);
    benchkit::printLoad("after the changes");
    startUpPublication(broker, dir, 7);
    benchkit::printLoad("at the end");
    return 0;
}
