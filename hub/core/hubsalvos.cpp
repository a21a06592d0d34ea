// Salvo files of the hub, over the panel's reader.
#include "hubsalvos.h"

#include "hubcore.h"
#include "salvofiles.h"

namespace exel::hub {

QStringList salvoNames(const QString &folder)
{
    return folder.isEmpty() ? QStringList() : listSalvoNames(folder);
}

bool loadSalvo(const QString &folder, const QString &name, const StatandConfig &model, Salvo &salvo, QString *error)
{
    salvo = Salvo {};
    // Only a salvo the folder lists: a name from a client never becomes a
    // path of its own.
    if (folder.isEmpty() || !salvoNames(folder).contains(name, Qt::CaseInsensitive)) {
        if (error)
            *error = QStringLiteral("no salvo named \"%1\"").arg(name);
        return false;
    }
    SalvoTable table;
    ErrorInfo why;
    if (!LoadPresetFile(salvoPath(folder, name), model, table, &why)) {
        if (error)
            *error = QStringLiteral("salvo \"%1\" cannot be read: %2").arg(name, why.description);
        return false;
    }
    salvo.name = name;
    for (int row = 0; row < table.rows(); ++row) {
        SalvoRoute route;
        route.destination = table.at(row, 0);
        route.sourcePerLevel.assign(static_cast<size_t>(model.levelCount()), -1);
        bool any = false;
        for (int k = 1; k <= table.levelColumns(); ++k) {
            const int16_t src = table.at(row, k);
            const int16_t level = table.levels[static_cast<size_t>(k - 1)];
            if (src < 0 || level < 0 || level >= model.levelCount())
                continue;
            route.sourcePerLevel[static_cast<size_t>(level)] = src;
            any = true;
        }
        if (any && model.isValidDestination(route.destination))
            salvo.routes.push_back(std::move(route));
    }
    return true;
}

Submitted fireSalvo(HubCore &hub, const Salvo &salvo, const Origin &origin, const HubLine::Done &done)
{
    Submitted out;
    for (const SalvoRoute &route : salvo.routes) {
        Submitted one = submitRoute(hub, route.destination, route.sourcePerLevel, origin, done);
        out.ids.insert(out.ids.end(), one.ids.begin(), one.ids.end());
        if (out.problem.isEmpty())
            out.problem = one.problem;
    }
    if (salvo.routes.empty())
        out.problem = QStringLiteral("salvo \"%1\" holds no route of this router").arg(salvo.name);
    return out;
}

} // namespace exel::hub
