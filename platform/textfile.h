// Reading and writing the system's 8-bit text files (configurations, salvos).
#pragma once

#include "errorinfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace exel {

// Reads the whole file and splits it into lines. CR LF, LF and CR all end a
// line, so files from Windows tools and from this platform read alike. Bytes
// are taken as Latin-1, one character each. A folder, a missing or unreadable
// file gives false and the OS error.
bool readTextLines(const QString &path, QStringList &lines, ErrorInfo &error);

// The same reading without a string per line: text holds the whole file and
// lines are views into it (valid while text lives and is not changed).
bool readTextView(const QString &path, QString &text, std::vector<QStringView> &lines, ErrorInfo &error);

// Writes data to a temporary file beside path and renames it into place, so a
// failure half-way never loses the old file.
bool writeFileAtomic(const QString &path, const QByteArray &data, ErrorInfo &error);

// Lines joined with CR LF after each, as Latin-1 bytes (other characters become '?').
QByteArray crlfText(const QStringList &lines);

} // namespace exel
