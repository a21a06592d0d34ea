// The listener's view of the hub's state and the blocks built from it.
#include "videohubview.h"

#include "videohubprotocol.h"

#include <QCryptographicHash>

#include <algorithm>

namespace exel::hub {

namespace {

// The version of the protocol this server follows.
constexpr const char *kProtocolVersion = "2.8";

// Labels travel one per line: a label may not break the block.
QByteArray labelText(const QString &name)
{
    QByteArray t = name.toUtf8();
    for (char &c : t) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    return t;
}

} // namespace

VideohubView::VideohubView(const RouterState &state, std::vector<int> levels)
    : m_state(state)
{
    const StatandConfig &model = state.model();
    for (const int l : levels) {
        if (!model.isValidLevel(l))
            return;
    }
    if (levels.empty())
        return;
    const LevelRecord &first = model.level(levels.front());
    m_levels = std::move(levels);
    m_address = first.controllerAddress;
    m_ctlLevel = first.levelNumber + 1;
    // Three digits on the controller's wire: at most 999 ports.
    m_inputs = std::min<int>(first.numInputs, 999);
    m_outputs = std::min<int>(first.numOutputs, 999);
    // And no more outputs than the hub keeps state for (the controller's
    // highest configured output): a port past it could be routed but never
    // shown.
    if (const ControllerInfo *info = state.controller(m_address))
        m_outputs = std::min(m_outputs, info->outputs);
}

int VideohubView::sourceAt(int input) const
{
    return m_state.model().SourceWithNumber(m_levels.front(), static_cast<int16_t>(input));
}

int VideohubView::destinationAt(int output) const
{
    return m_state.model().DestinationWithNumber(m_levels.front(), static_cast<int16_t>(output));
}

QByteArray VideohubView::inputLabel(int input) const
{
    const int s = sourceAt(input);
    return s >= 0 ? labelText(m_state.model().SourceName(s)) : QByteArray("Input ") + QByteArray::number(input + 1);
}

QByteArray VideohubView::outputLabel(int output) const
{
    const int d = destinationAt(output);
    return d >= 0 ? labelText(m_state.model().DestinationName(d))
                  : QByteArray("Output ") + QByteArray::number(output + 1);
}

std::optional<int> VideohubView::routed(int output) const
{
    const OutputStatus *s = m_state.status(m_address, output + 1);
    if (!s || !s->known() || m_ctlLevel > s->levels())
        return std::nullopt;
    const int input = s->input[static_cast<size_t>(m_ctlLevel - 1)];
    if (input < 1 || input > m_inputs)
        return std::nullopt;
    return input - 1;
}

char VideohubView::lockFor(int output, const Origin &client) const
{
    const std::vector<bool> *locks = m_state.locks(m_address);
    if (!locks || m_state.locksReadAt(m_address) < 0 || output >= static_cast<int>(locks->size())
        || !(*locks)[static_cast<size_t>(output)])
        return 'U';
    const Origin *owner = m_state.lockOwner(m_address, output + 1);
    return owner && owner->sameClient(client) ? 'O' : 'L';
}

int VideohubView::outputFor(int16_t address, int output) const
{
    if (address != m_address || output < 1 || output > m_outputs)
        return -1;
    return output - 1;
}

std::optional<QByteArray> VideohubView::routingItem(int16_t address, int output, int ctlLevel, int input) const
{
    const int port = outputFor(address, output);
    if (port < 0 || ctlLevel != m_ctlLevel || input < 1 || input > m_inputs)
        return std::nullopt;
    return videohubItem(port, QByteArray::number(input - 1));
}

void VideohubView::appendLabels(QByteArray &out, bool inputs) const
{
    std::vector<QByteArray> items;
    const int n = inputs ? m_inputs : m_outputs;
    items.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        items.push_back(videohubItem(i, inputs ? inputLabel(i) : outputLabel(i)));
    appendVideohubBlock(out, inputs ? "INPUT LABELS" : "OUTPUT LABELS", items);
}

void VideohubView::appendLocks(QByteArray &out, const Origin &client) const
{
    std::vector<QByteArray> items;
    items.reserve(static_cast<size_t>(m_outputs));
    for (int o = 0; o < m_outputs; ++o)
        items.push_back(videohubItem(o, QByteArray(1, lockFor(o, client))));
    appendVideohubBlock(out, "VIDEO OUTPUT LOCKS", items);
}

void VideohubView::appendRouting(QByteArray &out) const
{
    std::vector<QByteArray> items;
    items.reserve(static_cast<size_t>(m_outputs));
    for (int o = 0; o < m_outputs; ++o) {
        if (const auto in = routed(o))
            items.push_back(videohubItem(o, QByteArray::number(*in)));
    }
    appendVideohubBlock(out, "VIDEO OUTPUT ROUTING", items);
}

bool VideohubView::appendBlock(
    QByteArray &out, const QByteArray &header, const VideohubIdentity &id, const Origin &client) const
{
    if (header == "PROTOCOL PREAMBLE")
        appendVideohubBlock(out, "PROTOCOL PREAMBLE", { QByteArray("Version: ") + kProtocolVersion });
    else if (header == "VIDEOHUB DEVICE")
        appendVideohubBlock(out, "VIDEOHUB DEVICE",
            { "Device present: true", "Model name: " + labelText(id.model),
                "Friendly name: " + labelText(id.friendlyName), "Unique ID: " + id.uniqueId.toLatin1(),
                "Video inputs: " + QByteArray::number(m_inputs), "Video processing units: 0",
                "Video outputs: " + QByteArray::number(m_outputs), "Video monitoring outputs: 0", "Serial ports: 0" });
    else if (header == "INPUT LABELS")
        appendLabels(out, true);
    else if (header == "OUTPUT LABELS")
        appendLabels(out, false);
    else if (header == "VIDEO OUTPUT LOCKS")
        appendLocks(out, client);
    else if (header == "VIDEO OUTPUT ROUTING")
        appendRouting(out);
    else if (header == "CONFIGURATION")
        appendVideohubBlock(out, "CONFIGURATION", { "Take Mode: false" });
    else
        return false;
    return true;
}

QByteArray VideohubView::dump(const VideohubIdentity &id, const Origin &client) const
{
    QByteArray out;
    // About 20 bytes a port in each of the four port blocks.
    out.reserve(512 + 80 * (m_inputs + m_outputs));
    for (const char *h : { "PROTOCOL PREAMBLE", "VIDEOHUB DEVICE", "INPUT LABELS", "OUTPUT LABELS",
             "VIDEO OUTPUT LOCKS", "VIDEO OUTPUT ROUTING", "CONFIGURATION" })
        appendBlock(out, h, id, client);
    appendVideohubBlock(out, "END PRELUDE", {});
    return out;
}

bool parseVideohubLevels(const StatandConfig &model, const QString &text, std::vector<int> &levels, QString &bad)
{
    levels.clear();
    for (const QString &part : text.split(QLatin1Char('+'))) {
        const QString name = part.trimmed();
        const int l = model.FindLevel(name);
        if (l < 0 || std::find(levels.begin(), levels.end(), l) != levels.end()) {
            bad = name;
            return false;
        }
        levels.push_back(l);
    }
    return !levels.empty();
}

QString videohubUniqueId(const QString &seed)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha1).toHex().left(12).toUpper());
}

} // namespace exel::hub
