// The hub's salvos: the panel's ".PRE" files in the hub's salvo folder,
// listed, read against the router's configuration and fired through the
// lines' queues like any other client's takes.
#pragma once

#include "routeplan.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace exel::hub {

struct SalvoRoute {
    int destination = -1; // model index
    std::vector<int16_t> sourcePerLevel; // model source per model level, -1 none
};

struct Salvo {
    QString name;
    std::vector<SalvoRoute> routes; // destinations in configuration order
};

// Salvo names of the folder, sorted case-blind (empty when it has none).
QStringList salvoNames(const QString &folder);
// Reads one salvo; lines naming what the configuration does not know are
// skipped, as the panel skips them. False with the reason when the name is
// not one of the folder's salvos or the file cannot be read.
bool loadSalvo(const QString &folder, const QString &name, const StatandConfig &model, Salvo &salvo, QString *error);
// Queues every route of the salvo, destination by destination.
Submitted fireSalvo(HubCore &hub, const Salvo &salvo, const Origin &origin, const HubLine::Done &done = {});

} // namespace exel::hub
