// Configuration file reader of the panel.
#include "configreader.h"

#include "numberrules.h"
#include "textfile.h"

#include <QSet>
#include <QVarLengthArray>

#include <vector>

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

// Plain loops: records are short, and a call into the library's vector
// search per field costs more than the scan itself.
qsizetype findComma(QStringView v, qsizetype from)
{
    const QChar *p = v.data();
    for (qsizetype i = from, n = v.size(); i < n; ++i)
        if (p[i] == u',')
            return i;
    return -1;
}

// A three-letter keyword, compared character by character.
bool isKeyword(QStringView key, const char16_t (&word)[4])
{
    return key.size() == 3 && key[0] == word[0] && key[1] == word[1] && key[2] == word[2];
}

bool isCommentOrEmpty(QStringView line)
{
    // No trimming before the test: " *x" is a record, not a comment.
    return line.isEmpty() || line.front() == u'*';
}

// Field 1 without splitting the whole line (the counting pass needs only it).
QStringView keywordAndName(QStringView line, QStringView &name)
{
    const qsizetype c1 = findComma(line, 0);
    if (c1 < 0)
        return {};
    const qsizetype c2 = findComma(line, c1 + 1);
    name = trimBlanks(c2 < 0 ? line.mid(c1 + 1) : line.mid(c1 + 1, c2 - c1 - 1));
    return trimBlanks(line.left(c1));
}

// The fields of one record, trimmed, as strings over the line's own
// characters (QString::fromRawData): splitting a line allocates nothing. They
// live only while the line does; whatever the model keeps goes through
// owned(), which copies.
class Fields {
public:
    explicit Fields(QStringView line)
    {
        qsizetype start = 0;
        for (;;) {
            const qsizetype comma = findComma(line, start);
            const QStringView f = trimBlanks(comma < 0 ? line.mid(start) : line.mid(start, comma - start));
            m_fields.append(QString::fromRawData(f.data(), f.size()));
            if (comma < 0)
                break;
            start = comma + 1;
        }
    }
    qsizetype size() const { return m_fields.size(); }
    const QString &operator[](qsizetype i) const { return m_fields[i]; }

private:
    QVarLengthArray<QString, 8> m_fields;
};

QString owned(const QString &field)
{
    return QString(field.constData(), field.size());
}

// The last name looked up in a table and where it was found. Records of one
// name come in runs (a source on each of its levels), and a name once found
// keeps its place for the whole load, so the run needs one hash look-up.
// Used only by a whole load, whose lines outlive it: the name is a view.
struct LastFound {
    QStringView name;
    int index = -1;

    bool is(const QString &n) const { return index >= 0 && QStringView(n) == name; }
    int remember(const QString &n, int i)
    {
        if (i >= 0) {
            name = n;
            index = i;
        }
        return i;
    }
};

struct LookUpCache {
    LastFound source, destination, nameSet;
};

int findCached(
    LastFound *last, const QString &name, int (StatandConfig::*find)(const QString &) const, const StatandConfig &m)
{
    if (!last)
        return (m.*find)(name);
    if (last->is(name))
        return last->index;
    return last->remember(name, (m.*find)(name));
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

ConfigLineResult parseController(StatandConfig &m, const Fields &f)
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
    m.AddController(ControllerRecord{owned(name), address.value, levels.value});
    return ConfigLineResult::good();
}

ConfigLineResult parseLevel(StatandConfig &m, const Fields &f)
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
    m.FillLevelSlot(LevelRecord{owned(name), static_cast<int16_t>(address), static_cast<int16_t>(levelNumber), inputs, outputs});
    return ConfigLineResult::good();
}

ConfigLineResult parseMember(StatandConfig &m, const Fields &f, bool source, LookUpCache *cache)
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
    LastFound *last = cache ? (source ? &cache->source : &cache->destination) : nullptr;
    int index = findCached(last, name, source ? &StatandConfig::FindSource : &StatandConfig::FindDestination, m);
    if (index < 0) {
        index = source ? m.TakeSourceSlot(owned(name)) : m.TakeDestinationSlot(owned(name));
        if (last)
            last->remember(name, index);
    }
    if (index < 0)
        return ConfigLineResult::bad(QStringLiteral("no room for %1 %2").arg(word, name));
    const int16_t stored = n.value == 0 ? int16_t(-1) : static_cast<int16_t>(n.value - 1);
    if (source)
        m.SetSourceNumber(index, level, stored);
    else
        m.SetDestinationNumber(index, level, stored);
    return ConfigLineResult::good();
}

ConfigLineResult parseNameSet(StatandConfig &m, const Fields &f, bool source, LookUpCache *cache)
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
    LastFound *last = cache ? &cache->nameSet : nullptr;
    int set = findCached(last, setName, &StatandConfig::FindNameSet, m);
    if (set < 0) {
        set = m.TakeNameSetSlot(owned(setName));
        if (last)
            last->remember(setName, set);
    }
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

namespace {

// One table of the counting pass. Names are views into the lines, which
// outlive the pass; a run of records of one name costs one comparison.
struct CountTable {
    QSet<QStringView> names;
    QStringView last;
    bool hasLast = false;
};

SystemCounts countLines(const std::vector<QStringView> &lines, int *tooManyLine)
{
    CountTable levels, sources, dests, sets;
    if (tooManyLine)
        *tooManyLine = 0;
    int lineNo = 0;
    for (const QStringView line : lines) {
        ++lineNo;
        if (isCommentOrEmpty(line))
            continue;
        QStringView name;
        const QStringView key = keywordAndName(line, name);
        if (key.isEmpty() && name.isEmpty())
            continue;
        CountTable *table = nullptr;
        if (isKeyword(key, u"LVL"))
            table = &levels;
        else if (isKeyword(key, u"SRC"))
            table = &sources;
        else if (isKeyword(key, u"DST"))
            table = &dests;
        else if (isKeyword(key, u"SNS") || isKeyword(key, u"SND"))
            table = &sets;
        if (!table)
            continue;
        // The name of the table's previous record was counted, or refused
        // with the first refusal already noted: nothing more to do.
        if (table->hasLast && name == table->last)
            continue;
        table->last = name;
        table->hasLast = true;
        if (table->names.size() < StatandConfig::kMaxCount) {
            table->names.insert(name);
        } else if (!table->names.contains(name)) {
            if (tooManyLine && *tooManyLine == 0)
                *tooManyLine = lineNo;
        }
    }
    return SystemCounts{static_cast<int>(levels.names.size()), static_cast<int>(sources.names.size()),
                        static_cast<int>(dests.names.size()), static_cast<int>(sets.names.size())};
}

ConfigLineResult parseLine(StatandConfig &model, QStringView line, LookUpCache *cache)
{
    if (isCommentOrEmpty(line))
        return ConfigLineResult::good();
    const Fields f(line);
    if (f.size() < 2)
        return ConfigLineResult::bad(QStringLiteral("a record needs a keyword and at least one field"));
    const QString &key = f[0];
    if (isKeyword(key, u"SRC"))
        return parseMember(model, f, true, cache);
    if (isKeyword(key, u"DST"))
        return parseMember(model, f, false, cache);
    if (isKeyword(key, u"CTL"))
        return parseController(model, f);
    if (isKeyword(key, u"LVL"))
        return parseLevel(model, f);
    if (isKeyword(key, u"SNS"))
        return parseNameSet(model, f, true, cache);
    if (isKeyword(key, u"SND"))
        return parseNameSet(model, f, false, cache);
    return ConfigLineResult::good(); // VER and unknown keywords are ignored
}

std::vector<QStringView> viewsOf(const QStringList &lines)
{
    return std::vector<QStringView>(lines.cbegin(), lines.cend());
}

ConfigLoadResult loadLines(StatandConfig &model, const std::vector<QStringView> &lines, const QString &configName)
{
    ConfigLoadResult result;
    result.configName = configName;
    model.ClearSystemTables();
    int tooMany = 0;
    const SystemCounts counts = countLines(lines, &tooMany);
    if (tooMany != 0 || !model.SizeForLoad(counts)) {
        model.ClearSystemTables();
        result.status = ConfigLoadResult::Status::BadLine;
        result.lineNumber = tooMany;
        if (tooMany > 0)
            result.line = lines[tooMany - 1].toString();
        result.reason = QStringLiteral("the system is larger than the panel can hold (at most %1 of each kind, "
                                       "%2 level cells)")
                            .arg(StatandConfig::kMaxCount)
                            .arg(StatandConfig::kMaxCells);
        model.setConfigurationName(configName);
        return result;
    }
    LookUpCache cache;
    int lineNo = 0;
    for (const QStringView line : lines) {
        ++lineNo;
        const ConfigLineResult r = parseLine(model, line, &cache);
        if (!r.ok) {
            result.status = ConfigLoadResult::Status::BadLine;
            result.lineNumber = lineNo;
            result.line = line.toString();
            result.reason = r.reason;
            break;
        }
    }
    model.setConfigurationName(configName);
    return result;
}

} // namespace

SystemCounts CountConfigLines(const QStringList &lines, int *tooManyLine)
{
    return countLines(viewsOf(lines), tooManyLine);
}

ConfigLineResult ParseConfigLine(StatandConfig &model, QStringView line)
{
    return parseLine(model, line, nullptr);
}

ConfigLoadResult LoadConfigLines(StatandConfig &model, const QStringList &lines, const QString &configName)
{
    return loadLines(model, viewsOf(lines), configName);
}

ConfigLoadResult LoadConfigFile(StatandConfig &model, const QString &path)
{
    QString text;
    std::vector<QStringView> lines;
    ConfigLoadResult result;
    if (!readTextView(path, text, lines, result.error)) {
        result.status = ConfigLoadResult::Status::OpenFailed;
        return result;
    }
    return loadLines(model, lines, ConfigurationNameFromPath(path));
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
