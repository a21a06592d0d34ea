// Feeds a form file's property bag text to a designer-mode TolComm: reading
// any bag must not crash, and what the control writes back must read back to
// the same bag (one pass settles every refused value on its default).
#include "propertybag.h"
#include "tolcomm.h"

#include <QApplication>
#include <QDir>

#include <cstdint>
#include <cstdlib>

namespace {

QString settle(const QString &text)
{
    TolComm comm;
    comm.setProperty("UserMode", false); // a form designer: the port is never opened
    comm.ReadProperties(PropertyBag::fromText(text));
    PropertyBag out;
    comm.WriteProperties(out);
    return out.toText();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The engine's diagnostic log goes to a throw-away folder.
    const QString logDir = QDir::tempPath() + QStringLiteral("/fuzz_tolcom_bag");
    QDir().mkpath(logDir);
    qputenv("TOLCOM_LOG_DIR", logDir.toLocal8Bit());
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 64 * 1024)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString once = settle(text);
    const QString twice = settle(once);
    if (once != twice)
        std::abort();
    return 0;
}
