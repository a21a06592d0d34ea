// The controller emulator program (xelemu) started for a benchmark or a
// driver: it publishes its pseudo-terminal as COM<n> in a device folder and
// prints the terminal's path, which path() gives. Stopped when destroyed.
#pragma once

#include <QProcess>
#include <QStringList>

namespace exel::test {

class EmulatorProgram {
public:
    explicit EmulatorProgram(QString binary)
        : m_binary(std::move(binary))
    {
    }
    bool start(const QString &config, const QString &deviceDir, const QStringList &extra = {})
    {
        m_proc.start(m_binary,
            extra
                + QStringList { QStringLiteral("--no-console"), QStringLiteral("--device-dir"), deviceDir,
                    QStringLiteral("--log"), QStringLiteral("/dev/null"), config });
        if (!m_proc.waitForStarted())
            return false;
        while (!m_proc.canReadLine())
            if (!m_proc.waitForReadyRead(5000))
                return false;
        m_path = m_proc.readLine().trimmed();
        return true;
    }
    ~EmulatorProgram()
    {
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000))
            m_proc.kill();
        m_proc.waitForFinished(1000);
    }
    QByteArray path() const { return m_path; }

private:
    QString m_binary;
    QProcess m_proc;
    QByteArray m_path;
};

} // namespace exel::test
