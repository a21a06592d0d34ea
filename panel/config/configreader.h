// The panel's reader of configuration files: the counting pass, the record
// pass (ParseConfigLine) and the whole load of a file into the system model.
#pragma once

#include "errorinfo.h"
#include "statandconfig.h"

#include <QString>
#include <QStringList>

namespace exel {

inline const QString kInvalidConfigText = QStringLiteral("Invalid Information in Configuration File");
inline const QString kConfigLoadTitle = QStringLiteral("File Open");

struct ConfigLineResult {
    bool ok = true;
    QString reason; // why a line was refused, for the operator and the tests

    static ConfigLineResult good() { return {}; }
    static ConfigLineResult bad(QString why) { return ConfigLineResult{false, std::move(why)}; }
};

struct ConfigLoadResult {
    enum class Status { Loaded, OpenFailed, BadLine };
    Status status = Status::Loaded;
    ErrorInfo error;    // OpenFailed: the OS error
    int lineNumber = 0; // BadLine: 1-based line that stopped the load (0: the file as a whole)
    QString line;       // BadLine: the text of that line
    QString reason;     // BadLine: why
    QString configName; // name recorded for the loaded configuration

    bool ok() const { return status == Status::Loaded; }
};

// Splits a record at every comma and trims each field of blanks. No quoting.
QStringList SplitConfigFields(QStringView line);

// Counting pass: distinct names per keyword (LVL, SRC, DST; SNS and SND share
// the name sets). Stops counting a table at the 16-bit limit; *tooMany then
// names the first line that went past it (0 when none did).
SystemCounts CountConfigLines(const QStringList &lines, int *tooManyLine = nullptr);

// Record pass for one line. Comments ("*" first) and empty lines are ok.
ConfigLineResult ParseConfigLine(StatandConfig &model, QStringView line);

// Whole load of lines already read: size from the counting pass, then records
// until the first bad one (what was stored before it stays).
ConfigLoadResult LoadConfigLines(StatandConfig &model, const QStringList &lines, const QString &configName);

// Reads the file and loads it. When the file cannot be read the model is left
// exactly as it was, so the operator keeps the system on screen.
ConfigLoadResult LoadConfigFile(StatandConfig &model, const QString &path);

// Name of a loaded configuration from its path: no folders, no drive, cut
// before the first "." (a path to MAIN.CFG gives MAIN).
QString ConfigurationNameFromPath(const QString &path);

// "Unable to Open Configuarion File:" + path, then "Error # " + number and the description.
QString configOpenErrorText(const QString &path, const ErrorInfo &error);

// The box text for a refused line: the fixed sentence, then where and why.
QString configBadLineText(const ConfigLoadResult &result);
// Where and why alone ("Line 12: SRC,CAM1" and the reason): the detail shown
// under the fixed sentence "Invalid Information in Configuration File".
QString configBadLineDetail(const ConfigLoadResult &result);

} // namespace exel
