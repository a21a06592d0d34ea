// Fixture shared by the import and export tests: a fresh database, scripted
// dialogs, a private settings store and a recording progress display.
#pragma once

#include "dialogs.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "textfile.h"
#include "thermosink.h"
#include "xelcfgdb.h"
#include "xelcfgloadutilities.h"

#include <QFile>
#include <gtest/gtest.h>

#include <memory>

namespace exel::test {

struct RecordingThermo : ThermoSink {
    QStringList titles;
    QList<int> values;
    int shown = 0, closed = 0;
    void showThermo() override { ++shown; }
    void SetTitle(const QString &t) override { titles << t; }
    void updateThermo(int p) override { values << p; }
    void closeThermo() override { ++closed; }
};

class IoFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = tempHome() + QStringLiteral("/io-%1").arg(++s_serial);
        QDir().mkpath(m_dir);
        m_settings = std::make_unique<SettingsStore>(m_dir + QStringLiteral("/config"));
        m_db = newDb(QStringLiteral("a.mdb"));
        m_io = std::make_unique<XelCfgLoadUtilities>(*m_db, m_dialogs, *m_settings, &m_thermo);
    }

    std::unique_ptr<XelCfgDb> newDb(const QString &name)
    {
        auto db = std::make_unique<XelCfgDb>(&m_dialogs, m_dir + QLatin1Char('/') + name);
        EXPECT_TRUE(db->Init()) << db->lastError().toStdString();
        return db;
    }

    QString file(const QString &name, const QStringList &lines)
    {
        const QString path = m_dir + QLatin1Char('/') + name;
        EXPECT_TRUE(writeFile(path, crlfText(lines)));
        return path;
    }

public:
    // Everything the export writes for a database, as one comparable text.
    static QStringList dump(XelCfgDb &db)
    {
        QStringList out, texts;
        for (const char *key : { "CTL", "LVL", "SRC", "DST", "SNS", "SND" })
            if (db.GetRecordsForFile(QLatin1String(key), texts))
                for (const QString &t : texts)
                    out << QLatin1String(key) + QLatin1Char(',') + t;
        return out;
    }

protected:
    bool isDefault() { return m_db->Controllers() == QStringList { "CNTRL1" } && m_db->NumberOfGroups("SRC") == 16; }

    static inline int s_serial = 0;
    QString m_dir;
    ScriptedDialogs m_dialogs;
    RecordingThermo m_thermo;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<XelCfgDb> m_db;
    std::unique_ptr<XelCfgLoadUtilities> m_io;
};

} // namespace exel::test
