// The comm object that carries a controller line, made in one place: the
// window-free comm control (TolCommCore), driven by member name by the
// panel's link exactly as the panel drives its TolComm widget. It needs a
// core application only; the hub links no Qt Widgets or Qt Gui.
#pragma once

#include <QObject>

namespace exel::hub {

// A new comm object for one line. The caller owns it.
QObject *createLineComm();

} // namespace exel::hub
