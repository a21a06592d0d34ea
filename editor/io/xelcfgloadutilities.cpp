// Import and export of configuration files.
#include "xelcfgloadutilities.h"

#include "dialogs.h"
#include "numberrules.h"
#include "settingsstore.h"
#include "textfile.h"
#include "thermosink.h"
#include "xelcfgdb.h"
#include "xelcfgversion.h"

#include <QHash>

#include <vector>

namespace exel {

const QString XelCfgLoadUtilities::kConfigFilter = QStringLiteral("Config Files (*.CFG)|*.CFG|All files (*.*)|*.*");

namespace {

// An ordered list of distinct names with a fast look-up of each one's place.
class NameList {
public:
    int indexOf(const QString &name) const { return m_index.value(name, -1); }
    int add(const QString &name)
    {
        auto it = m_index.constFind(name);
        if (it != m_index.constEnd())
            return *it;
        m_names << name;
        m_index.insert(name, int(m_names.size() - 1));
        return int(m_names.size() - 1);
    }
    int size() const { return int(m_names.size()); }
    const QString &at(int i) const { return m_names[i]; }

private:
    QStringList m_names;
    QHash<QString, int> m_index;
};

struct NullThermo : ThermoSink {
    void SetTitle(const QString &) override { }
    void updateThermo(int) override { }
};

int percent(qsizetype index, qsizetype count)
{
    return count <= 0 ? 100 : int(qMin<qsizetype>(100, index * 100 / count));
}

} // namespace

XelCfgLoadUtilities::XelCfgLoadUtilities(XelCfgDb &db, Dialogs &dialogs, SettingsStore &settings, ThermoSink *thermo)
    : m_db(db)
    , m_dialogs(dialogs)
    , m_settings(settings)
    , m_thermo(thermo)
{
}

QStringList XelCfgLoadUtilities::FieldSplit(const QString &line)
{
    QStringList fields = line.split(QLatin1Char(','));
    for (QString &f : fields)
        f = f.trimmed().toUpper();
    if (fields.size() > 1 && fields.last().isEmpty())
        fields.removeLast();
    return fields;
}

QString XelCfgLoadUtilities::ConfigurationTitle(const QString &path)
{
    QString name = path;
    for (QChar sep : { QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':') }) {
        const qsizetype at = name.lastIndexOf(sep);
        if (at >= 0)
            name = name.mid(at + 1);
    }
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot >= 0 ? name.left(dot) : name;
}

bool XelCfgLoadUtilities::LoadConfigurationFile(const QString &path)
{
    m_failure.clear();
    QStringList lines;
    ErrorInfo error;
    if (!readTextLines(path, lines, error)) {
        m_failure = QStringLiteral("Unable to Open Configuration File:") + path;
        m_dialogs.message(m_failure + QLatin1Char('\n') + errorLines(error), MsgIcon::Exclamation);
        m_db.LoadDefaultDatabase();
        return false;
    }
    NullThermo nullThermo;
    ThermoSink &thermo = m_thermo ? *m_thermo : nullThermo;
    const QString title = ConfigurationTitle(path);
    thermo.showThermo();
    thermo.SetTitle(QStringLiteral("Opening configuration ") + title + QStringLiteral("..."));
    thermo.updateThermo(0);

    QString failure;
    bool ok;
    XelCfgDb::Rebuild rebuild(m_db);
    {
        // The whole rebuild is one transaction: a failure never leaves a
        // half-built configuration, not even for a moment on disk.
        XelCfgDb::Transaction t(m_db);
        ok = importLines(lines, title, failure);
        thermo.updateThermo(100);
        if (ok && !t.commit()) {
            ok = false;
            failure = QStringLiteral("Database Error: ") + m_db.lastError();
        }
    }
    if (!ok) {
        m_failure = failure;
        m_dialogs.message(QStringLiteral("Invalid Information in Configuration File") + QLatin1Char('\n') + failure,
            MsgIcon::Exclamation);
        m_db.LoadDefaultDatabase();
    } else {
        m_db.setCurrent(title, path);
        m_db.markSaved();
    }
    thermo.closeThermo();
    return ok;
}

bool XelCfgLoadUtilities::importLines(const QStringList &lines, const QString &title, QString &failure)
{
    Q_UNUSED(title);
    NullThermo nullThermo;
    ThermoSink &thermo = m_thermo ? *m_thermo : nullThermo;

    // First pass: the distinct names of each kind, so every table is sized
    // before any record is read. Each line is split once; the second pass
    // reads the same fields.
    NameList controllers, levels, sources, destinations, sets;
    std::vector<QStringList> split;
    split.reserve(size_t(lines.size()));
    for (const QString &line : lines) {
        split.push_back(FieldSplit(line));
        const QStringList &f = split.back();
        if (f.size() < 2)
            continue;
        const QString &key = f[0];
        if (key == QLatin1String("CTL"))
            controllers.add(f[1]);
        else if (key == QLatin1String("LVL"))
            levels.add(f[1]);
        else if (key == QLatin1String("SRC"))
            sources.add(f[1]);
        else if (key == QLatin1String("DST"))
            destinations.add(f[1]);
        else if (key == QLatin1String("SNS") || key == QLatin1String("SND"))
            sets.add(f[1]);
    }
    std::vector<std::vector<int>> inputs(sources.size(), std::vector<int>(levels.size(), 0));
    std::vector<std::vector<int>> outputs(destinations.size(), std::vector<int>(levels.size(), 0));
    std::vector<QStringList> setSources(sets.size()), setDestinations(sets.size());

    if (!m_db.ReinitDatabase()) {
        failure = QStringLiteral("Database Error: ") + m_db.lastError();
        return false;
    }

    // Second pass: controllers and levels go in at once; numbers and members
    // are gathered and added afterwards.
    const qsizetype total = lines.size();
    QString message;
    for (qsizetype n = 0; n < total; ++n) {
        const QString &line = lines[n];
        if ((n + 1) % 10 == 0)
            thermo.updateThermo(percent(n + 1, total));
        if (line.isEmpty() || line.startsWith(QLatin1Char('*')))
            continue;
        const QStringList &f = split[size_t(n)];
        if (f.size() < 2) {
            failure = QStringLiteral("Unknown Data in Configuration File: ") + line.left(20);
            return false;
        }
        const QString &key = f[0];
        if (key == QLatin1String("CTL")) {
            if (f.size() < 4) {
                failure = QStringLiteral("Insufficient Controller Definition");
                return false;
            }
            if (!m_db.AddRecordFromFile(key, f.mid(1, 3), message)) {
                failure = message;
                return false;
            }
        } else if (key == QLatin1String("LVL")) {
            if (f.size() < 6) {
                failure = QStringLiteral("Insufficient Level Definition");
                return false;
            }
            if (!m_db.AddRecordFromFile(key, f.mid(1, 5), message)) {
                failure = message;
                return false;
            }
        } else if (key == QLatin1String("SRC") || key == QLatin1String("DST")) {
            // An empty level field is what a configuration without levels
            // exports ("SRC,NAME,, "): it records nothing, like a bare name.
            if (f.size() < 3 || f[2].isEmpty())
                continue;
            const int level = levels.indexOf(f[2]);
            if (level < 0) {
                failure = QStringLiteral("Invalid Source Definition");
                return false;
            }
            if (f.size() < 4)
                continue;
            const std::optional<int16_t> value = numericInt16(f[3]);
            if (!value) {
                failure = errorLines(overflowError());
                return false;
            }
            const bool source = key == QLatin1String("SRC");
            const int index = (source ? sources : destinations).indexOf(f[1]);
            (source ? inputs : outputs)[index][level] = *value;
        } else if (key == QLatin1String("SNS") || key == QLatin1String("SND")) {
            if (f.size() < 3)
                continue;
            const int set = sets.indexOf(f[1]);
            (key == QLatin1String("SNS") ? setSources : setDestinations)[set] << f[2];
        } else if (key == QLatin1String("VER")) {
            const QStringList parts = f[1].split(QLatin1Char('.'));
            if (parts.size() < 2) {
                failure = QStringLiteral("Invalid Version Definition");
                return false;
            }
            const double major = roundHalfEven(leadingNumeric(parts[0]));
            const double minor = roundHalfEven(leadingNumeric(parts[1]));
            if ((major == kProgramMajor && minor > kProgramMinor) || major > kProgramMajor) {
                const QString text = QStringLiteral("Attempting to load a later revision configuration!\n")
                    + QStringLiteral("The currently loading configuration version is V%1.%2\n")
                          .arg(major, 0, 'f', 0)
                          .arg(minor, 0, 'f', 0)
                    + QStringLiteral("The program's current version is V%1.%2\n").arg(kProgramMajor).arg(kProgramMinor)
                    + QStringLiteral("Do you wish to continue?");
                if (m_dialogs.messageBox(text, MsgButtons::OkCancel, MsgIcon::Question, QString()) != MsgAnswer::Ok) {
                    failure = QStringLiteral("Improper Configuration Version");
                    return false;
                }
            }
        }
    }

    // Add phases: sources, destinations, then the name sets' members. The
    // levels are all in by now and stay as they are.
    XelCfgDb::GroupImport groupImport(m_db);
    auto addGroups = [&](const QString &key, const NameList &names, const std::vector<std::vector<int>> &numbers) {
        thermo.SetTitle(QStringLiteral("Loading ") + key);
        thermo.updateThermo(0);
        for (int i = 0; i < names.size(); ++i) {
            QStringList fields { names.at(i) };
            for (int v : numbers[i])
                fields << QString::number(v);
            if (!m_db.AddRecordFromFile(key, fields, message)) {
                failure = message;
                return false;
            }
            if ((i + 1) % 10 == 0)
                thermo.updateThermo(percent(i + 1, names.size()));
        }
        return true;
    };
    auto addSets = [&](const QString &key, const std::vector<QStringList> &members) {
        thermo.SetTitle(QStringLiteral("Loading ") + key);
        thermo.updateThermo(0);
        for (int i = 0; i < sets.size(); ++i) {
            QStringList fields { sets.at(i) };
            for (const QString &m : members[i]) {
                if (m.isEmpty())
                    break;
                fields << m;
            }
            if (!m_db.AddRecordFromFile(key, fields, message)) {
                failure = message;
                return false;
            }
            thermo.updateThermo(percent(i + 1, sets.size()));
        }
        return true;
    };
    return addGroups(QStringLiteral("SRC"), sources, inputs) && addGroups(QStringLiteral("DST"), destinations, outputs)
        && addSets(QStringLiteral("SNS"), setSources) && addSets(QStringLiteral("SND"), setDestinations);
}

bool XelCfgLoadUtilities::SaveConfigurationFile(const QString &path)
{
    QStringList lines { QStringLiteral("VER,%1.%2").arg(kProgramMajor).arg(kProgramMinor) };
    QStringList texts;
    for (const char *key : { "CTL", "LVL", "SRC", "DST", "SNS", "SND" }) {
        const QString keyword = QLatin1String(key);
        if (m_db.GetRecordsForFile(keyword, texts))
            for (const QString &t : texts)
                lines << keyword + QLatin1Char(',') + t;
    }
    ErrorInfo error;
    if (!writeFileAtomic(path, crlfText(lines), error)) {
        m_dialogs.message(
            QStringLiteral("Unable to Save Configuarion File:") + path + QLatin1Char('\n') + errorLines(error),
            MsgIcon::Exclamation);
        return false;
    }
    m_db.markSaved();
    if (m_dialogs.messageBox(QStringLiteral("Do you wish this to become the default configuration?"),
            MsgButtons::OkCancel, MsgIcon::Question, QString())
        == MsgAnswer::Ok) {
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ConfigFile"), path);
        m_db.setCurrent(ConfigurationTitle(path), path);
    }
    return true;
}

QString XelCfgLoadUtilities::askFileToOpen()
{
    FileDialogRequest request;
    request.title = QStringLiteral("Open Configuration");
    request.filter = kConfigFilter;
    request.filterIndex = 1;
    request.hideReadOnly = true;
    return m_dialogs.openFileName(request);
}

bool XelCfgLoadUtilities::ChooseFileToOpen()
{
    const QString path = askFileToOpen();
    if (path.isEmpty())
        return false;
    return LoadConfigurationFile(path);
}

FileDialogRequest XelCfgLoadUtilities::saveRequest() const
{
    FileDialogRequest request;
    request.title = QStringLiteral("Save Configuration");
    request.filter = kConfigFilter;
    request.filterIndex = 1;
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    const QString current = m_db.currentPath();
    if (current.isEmpty() || ConfigurationTitle(current) != m_db.currentTitle())
        return request;
    request.fileName = current;
    // A save dialog gives the proposed name the suffix of the selected filter's
    // first pattern: "house.cfg" would come back as "house.CFG", a second file
    // beside the first. So the first pattern is the suffix as the file has it,
    // and a file of another suffix is offered under "All files".
    const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
    const QString name = current.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot >= 0 ? name.mid(dot + 1) : QString();
    if (suffix.compare(QLatin1String("CFG"), Qt::CaseInsensitive) == 0)
        request.filter = QStringLiteral("Config Files (*.CFG)|*.") + suffix + QStringLiteral("|All files (*.*)|*.*");
    else if (!suffix.isEmpty())
        request.filterIndex = 2;
    return request;
}

bool XelCfgLoadUtilities::ChooseFileToSave()
{
    const QString path = m_dialogs.saveFileName(saveRequest());
    if (path.isEmpty())
        return false;
    return SaveConfigurationFile(path);
}

bool XelCfgLoadUtilities::LoadStartupConfiguration()
{
    const QString path = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ConfigFile"));
    if (!path.isEmpty())
        return LoadConfigurationFile(path);
    return m_db.LoadDefaultDatabase();
}

} // namespace exel
