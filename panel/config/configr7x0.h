// Auto-configuration from a connected controller: the controller's name, its
// levels, destinations, sources and assignments gathered through the query
// commands into a temporary file, turned into a configuration file in the
// program folder and handed to the window to load.
#pragma once

#include "dialogs.h"
#include "errorinfo.h"
#include "hublink.h"
#include "settingsstore.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace exel {

inline const QString kXelAppTitle = QStringLiteral("32-Bit Xelvard");
inline const QString kDefaultControllerName = QStringLiteral("R7x0");
inline const QString kUnableToLoadControllerText = QStringLiteral("Unable to load controller configuration.");
inline const QString kErrorConvertingText = QStringLiteral("Error in converting configuration!");
inline const QString kTempFileOpenText = QStringLiteral("Unable to Open Temporary Storage File:");
inline const QString kDimensionErrorText = QStringLiteral("Unable to Dimension Config due to file error:");
inline const QString kTransferErrorText = QStringLiteral("Unable to Transfer Config due to file error.");

// SplitText: trims the text of blanks, then cuts it at each separator; the
// part before a separator is the next field, the rest (trimmed) goes on. A
// non-empty remainder is the last field. fields gets one spare empty element
// after the last field; text is left holding the last field. Returns the
// number of fields.
int SplitText(const QString &separator, QString &text, QStringList &fields);

// Reads records "(" type "," field ... ")" from the bytes of a query file,
// ignoring anything outside parentheses.
class QueryRecordReader {
public:
    explicit QueryRecordReader(const QByteArray &data)
        : m_data(data)
    {
    }
    // ReadQueryRecord: the fields of the next record (field 0 is its type) in
    // fields; returns their number, 0 at the end of the data (also when a
    // record is cut off by the end).
    int ReadQueryRecord(QString &buffer, QStringList &fields);

private:
    const QByteArray &m_data;
    qsizetype m_pos = 0;
};

struct QueryCounts {
    int16_t levels = 0;
    int16_t sources = 0;
    int16_t destinations = 0;
};

// The counting pass over query data: the highest level, source and
// destination numbers. A number past the 16-bit range is refused: false,
// with error 6 "Overflow".
bool SizeFromQueryData(const QByteArray &data, QueryCounts &counts, ErrorInfo &error);

// The conversion of query data into configuration lines. False when a record
// names a number outside the counted tables (or past 16 bits); lines then holds
// what was converted before it.
struct TransferResult {
    bool ok = true;
    QString reason; // why the conversion stopped
};
TransferResult TransferQueryData(const QByteArray &data, const QueryCounts &counts, QStringList &lines);

// A name from the controller made safe as a file name in the program folder:
// only letters, digits, "-", "_" and blanks inside the name are kept, anything
// else becomes "_"; leading dots and blanks are dropped; at most 64 characters.
// A name with nothing usable left gives "R7x0".
QString SafeControllerFileName(const QString &name);

// The auto-load flag: "AutoLoad" stored as exactly "TRUE" (any case of the
// key), and never in simulator mode.
bool ReadAutoLoadSetting(const SettingsStore &settings, bool simulator);

class ConfigR7x0 {
public:
    // The window's LoadXelConfig.
    using LoadConfig = std::function<void(const QString &strFileName)>;
    // A number in [0, 1) for temporary names.
    using RandomSource = std::function<double()>;

    ConfigR7x0(Hublink &link, Dialogs &dialogs, QString programFolder, LoadConfig loadConfig, RandomSource random = {});

    // The whole run; failures are shown to the operator.
    void AutoConfigure();

    QString QueryControllerName();
    // The temporary file with every answer's data, or "" on failure.
    QString QueryControllerToFile();
    // One query with its continuations, data written to file; true when it
    // finished normally.
    bool RunQuery(const QString &command, const QString &continuation, QFile &file);
    QString MakeTempFileName();
    bool SizeFromQueryFile(const QString &fileName, QueryCounts &counts);
    bool TransferQueryFile(const QString &tempName, const QString &outName, const QueryCounts &counts);

    // Where the last successful run wrote its configuration.
    QString lastOutputFile() const { return m_lastOut; }

private:
    QString send(const QString &cmd);

    Hublink &m_link;
    Dialogs &m_dialogs;
    QString m_folder;
    LoadConfig m_load;
    RandomSource m_random;
    QString m_lastOut;
};

} // namespace exel
