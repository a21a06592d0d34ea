// Helpers shared by the tests: the per-process temporary home and test data paths.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace exel::test {

// Root of the per-process temporary home that test_main.cpp creates; the
// settings, state, runtime and program folders all live below it.
QString tempHome();

// The repository's source folder (for checked-in test data).
inline QString sourceDir()
{
    return qEnvironmentVariable("EXEL_SOURCE_DIR", QStringLiteral(EXEL_SOURCE_DIR_DEFAULT));
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace exel::test
