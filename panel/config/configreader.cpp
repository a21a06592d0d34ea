// Configuration file reader of the panel.
#include "configreader.h"

#include "numberrules.h"
#include "textfile.h"

#include <QSet>

namespace exel {
namespace {

QStringView trimBlanks(QStringView v)
{
    qsizetype b = 0;
    qsizetype e = v.size();
    while (b < e && (v[b] == u' ' || v[b] == u'\t'))
        ++b;
    while (e > b && (v[e - 1] == u' ' || v[e - 1] == u'\t'))
        --e;
    return v.mid(b, e - b);
}

bool isCommentOrEmpty(QStringView line)
{
    // No trimming before the test: " *x" is a record, not a comment.
    return line.isEmpty() || line.front() == u'*';
}

// Field 1 without splitting the whole line (the counting pass needs only it).
QStringView keywordAndName(QStringView line, QStringView &name)
{
    const qsizetype c1 = line.indexOf(u',');
    if (c1 < 0)
        return {};
    const qsizetype c2 = line.indexOf(u',', c1 + 1);
    name = trimBlanks(c2 < 0 ? line.mid(c1 + 1) : line.mid(c1 + 1, c2 - c1 - 1));
    return trimBlanks(line.left(c1));
}

struct Number {
    bool ok;
    int16_t value;
};

Number number(const QString &field)
{
    const auto v = numericInt16(field);
    return Number{v.has_value(), v.value_or(0)};
}

QString overflowReason(const QString &field)
{
    return QStringLiteral("number %1 is past the 16-bit range (error 6, Overflow)").arg(field.left(20));
}

ConfigLineResult parseController(StatandConfig &m, const QStringList &f)
{
    if (f.size() < 4)
        return ConfigLineResult::bad(QStringLiteral("a CTL line needs a name, an address and a number of levels"));
    const QString &name = f[1];
    if (name.isEmpty())
        return ConfigLineResult::bad(QStringLiteral("the controller has no name"));
    const Number address = number(f[2]);
    const Number levels = number(f[3]);
    if (!address.ok)
        return ConfigLineResult::bad(overflowReason(f[2]));
    if (!levels.ok)
        return ConfigLineResult::bad(overflowReason(f[3]));
    if (m.FindController(name) != -1)
        return ConfigLineResult::bad(QStringLiteral("controller %1 is defined twice").arg(name));
    if (address.value < 0 || address.value > 7)
        return ConfigLineResult::bad(QStringLiteral("controller address %1 is not 0 to 7").arg(address.value));
    if (levels.value < 1)
        return ConfigLineResult::bad(QStringLiteral("controller %1 needs at least one level").arg(name));
    if (m.controllerCount() >= StatandConfig::kMaxCount)
        return ConfigLineResult::bad(QStringLiteral("too many controllers"));
    m.AddController(ControllerRecord{name, address.value, levels.value});
    return ConfigLineResult::good();
}

ConfigLineResult parseLevel(StatandConfig &m, const QStringList &f)
{
    if (f.size() < 6)
        return ConfigLineResult::bad(QStringLiteral("an LVL line needs a name, a controller, a level number, "
                                                    "inputs and outputs"));
    const QString &name = f[1];
    if (name.isEmpty())
        return ConfigLineResult::bad(QStringLiteral("the level has no name"));
    for (int i = 3; i <= 5; ++i)
        if (!number(f[i]).ok)
            return ConfigLineResult::bad(overflowReason(f[i]));
    const int ctl = f[2].isEmpty() ? -1 : m.FindController(f[2]);
    const int address = ctl < 0 ? -1 : m.controller(ctl).address;
    const int numLevels = ctl < 0 ? 0 : m.controller(ctl).numLevels;
    const int levelNumber = number(f[3]).value - 1;
    const int16_t inputs = number(f[4]).value;
    const int16_t outputs = number(f[5]).value;
    if (m.FindLevel(name) != -1)
        return ConfigLineResult::bad(QStringLiteral("level %1 is defined twice").arg(name));
    if (address < 0 || address > 7)
        return ConfigLineResult::bad(QStringLiteral("controller %1 of level %2 is not known").arg(f[2], name));
    if (levelNumber < 0 || levelNumber >= numLevels)
        return ConfigLineResult::bad(
            QStringLiteral("level number %1 is not 1 to %2 on controller %3").arg(levelNumber + 1).arg(numLevels).arg(f[2]));
    if (inputs < 1 || outputs < 1)
        return ConfigLineResult::bad(QStringLiteral("level %1 needs at least one input and one output").arg(name));
    m.FillLevelSlot(LevelRecord{name, static_cast<int16_t>(address), static_cast<int16_t>(levelNumber), inputs, outputs});
    return ConfigLineResult::good();
}

ConfigLineResult parseMember(StatandConfig &m, const QStringList &f, bool source)
{
    const QString word = source ? QStringLiteral("source") : QStringLiteral("destination");
    if (f.size() == 2)
        return ConfigLineResult::bad(QStringLiteral("the %1 line has no level").arg(word));
    if (f.size() == 3)
        return ConfigLineResult::good();
    const QString &name = f[1];
    if (name.isEmpty())
        return ConfigLineResult::bad(QStringLiteral("the %1 has no name").arg(word));
    const Number n = number(f[3]);
    if (!n.ok)
        return ConfigLineResult::bad(overflowReason(f[3]));
    const int level = f[2].isEmpty() ? -1 : m.FindLevel(f[2]);
    if (level < 0)
        return ConfigLineResult::bad(QStringLiteral("level %1 of %2 %3 is not known").arg(f[2], word, name));
    if (n.value < 0)
        return ConfigLineResult::bad(QStringLiteral("%1 %2 has a negative number").arg(word, name));
    int index = source ? m.FindSource(name) : m.FindDestination(name);
    if (index < 0)
        index = source ? m.TakeSourceSlot(name) : m.TakeDestinationSlot(name);
    if (index < 0)
        return ConfigLineResult::bad(QStringLiteral("no room for %1 %2").arg(word, name));
    const int16_t stored = n.value == 0 ? int16_t(-1) : static_cast<int16_t>(n.value - 1);
    if (source)
        m.SetSourceNumber(index, level, stored);
    else
        m.SetDestinationNumber(index, level, stored);
    return ConfigLineResult::good();
}

ConfigLineResult parseNameSet(StatandConfig &m, const QStringList &f, bool source)
{
    if (f.size() == 2 || f[2].isEmpty())
        return ConfigLineResult::good();
    const QString &setName = f[1];
    if (setName.isEmpty())
        return ConfigLineResult::bad(QStringLiteral("the name set has no name"));
    const int member = source ? m.FindSource(f[2]) : m.FindDestination(f[2]);
    if (member < 0)
        return ConfigLineResult::bad(QStringLiteral("%1 %2 of name set %3 is not known")
                                         .arg(source ? QStringLiteral("source") : QStringLiteral("destination"),
                                              f[2], setName));
    int set = m.FindNameSet(setName);
    if (set < 0)
        set = m.TakeNameSetSlot(setName);
    if (set < 0)
        return ConfigLineResult::bad(QStringLiteral("no room for name set %1").arg(setName));
    // A full set ignores further members.
    if (source)
        m.AddNameSetSource(set, member);
    else
        m.AddNameSetDestination(set, member);
    return ConfigLineResult::good();
}

} // namespace

QStringList SplitConfigFields(QStringView line)
{
    QStringList fields;
    qsizetype start = 0;
    for (;;) {
        const qsizetype comma = line.indexOf(u',', start);
        if (comma < 0) {
            fields.append(trimBlanks(line.mid(start)).toString());
            break;
        }
        fields.append(trimBlanks(line.mid(start, comma - start)).toString());
        start = comma + 1;
    }
    return fields;
}

SystemCounts CountConfigLines(const QStringList &lines, int *tooManyLine)
{
    QSet<QString> levels, sources, dests, sets;
    if (tooManyLine)
        *tooManyLine = 0;
    int lineNo = 0;
    for (const QString &line : lines) {
        ++lineNo;
        if (isCommentOrEmpty(line))
            continue;
        QStringView name;
        const QStringView key = keywordAndName(line, name);
        if (key.isEmpty() && name.isEmpty())
            continue;
        QSet<QString> *table = nullptr;
        if (key == u"LVL")
            table = &levels;
        else if (key == u"SRC")
            table = &sources;
        else if (key == u"DST")
            table = &dests;
        else if (key == u"SNS" || key == u"SND")
            table = &sets;
        if (!table)
            continue;
        const QString n = name.toString();
        if (table->contains(n))
            continue;
        if (table->size() >= StatandConfig::kMaxCount) {
            if (tooManyLine && *tooManyLine == 0)
                *tooManyLine = lineNo;
            continue;
        }
        table->insert(n);
    }
    return SystemCounts{static_cast<int>(levels.size()), static_cast<int>(sources.size()),
                        static_cast<int>(dests.size()), static_cast<int>(sets.size())};
}

ConfigLineResult ParseConfigLine(StatandConfig &model, QStringView line)
{
    if (isCommentOrEmpty(line))
        return ConfigLineResult::good();
    const QStringList f = SplitConfigFields(line);
    if (f.size() < 2)
        return ConfigLineResult::bad(QStringLiteral("a record needs a keyword and at least one field"));
    const QString &key = f[0];
    if (key == u"CTL")
        return parseController(model, f);
    if (key == u"LVL")
        return parseLevel(model, f);
    if (key == u"SRC")
        return parseMember(model, f, true);
    if (key == u"DST")
        return parseMember(model, f, false);
    if (key == u"SNS")
        return parseNameSet(model, f, true);
    if (key == u"SND")
        return parseNameSet(model, f, false);
    return ConfigLineResult::good(); // VER and unknown keywords are ignored
}

ConfigLoadResult LoadConfigLines(StatandConfig &model, const QStringList &lines, const QString &configName)
{
    ConfigLoadResult result;
    result.configName = configName;
    model.ClearSystemTables();
    int tooMany = 0;
    const SystemCounts counts = CountConfigLines(lines, &tooMany);
    if (tooMany != 0 || !model.SizeForLoad(counts)) {
        model.ClearSystemTables();
        result.status = ConfigLoadResult::Status::BadLine;
        result.lineNumber = tooMany;
        if (tooMany > 0)
            result.line = lines[tooMany - 1];
        result.reason = QStringLiteral("the system is larger than the panel can hold (at most %1 of each kind, "
                                       "%2 level cells)")
                            .arg(StatandConfig::kMaxCount)
                            .arg(StatandConfig::kMaxCells);
        model.setConfigurationName(configName);
        return result;
    }
    int lineNo = 0;
    for (const QString &line : lines) {
        ++lineNo;
        const ConfigLineResult r = ParseConfigLine(model, line);
        if (!r.ok) {
            result.status = ConfigLoadResult::Status::BadLine;
            result.lineNumber = lineNo;
            result.line = line;
            result.reason = r.reason;
            break;
        }
    }
    model.setConfigurationName(configName);
    return result;
}

ConfigLoadResult LoadConfigFile(StatandConfig &model, const QString &path)
{
    QStringList lines;
    ConfigLoadResult result;
    if (!readTextLines(path, lines, result.error)) {
        result.status = ConfigLoadResult::Status::OpenFailed;
        return result;
    }
    return LoadConfigLines(model, lines, ConfigurationNameFromPath(path));
}

QString ConfigurationNameFromPath(const QString &path)
{
    QString name = path;
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
    if (slash >= 0)
        name = name.mid(slash + 1);
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0)
        name = name.mid(colon + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name = name.left(dot);
    return name;
}

QString configOpenErrorText(const QString &path, const ErrorInfo &error)
{
    return QStringLiteral("Unable to Open Configuarion File:") + path + QLatin1Char('\n') + errorLines(error);
}

QString configBadLineDetail(const ConfigLoadResult &result)
{
    QStringList lines;
    // The line is shown as read: its text is never taken for a placeholder.
    if (result.lineNumber > 0)
        lines << QStringLiteral("Line ") + QString::number(result.lineNumber) + QStringLiteral(": ")
                + result.line.left(60);
    if (!result.reason.isEmpty())
        lines << result.reason;
    return lines.join(QLatin1Char('\n'));
}

QString configBadLineText(const ConfigLoadResult &result)
{
    const QString detail = configBadLineDetail(result);
    return detail.isEmpty() ? kInvalidConfigText : kInvalidConfigText + QLatin1Char('\n') + detail;
}

} // namespace exel
