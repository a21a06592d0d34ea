// The comm object that carries a controller line, made in one place.
//
// Interim: the window-free comm control is not in the tree yet, so the line
// is carried by the panel's TolComm control, created by its ProgID under the
// hub's application object on the offscreen platform. When the window-free
// control lands, this is the one file that changes (and the hub stops linking
// Qt Widgets).
#pragma once

#include <QObject>

namespace exel::hub {

// A new comm object for one line, driven by member name; nullptr when the
// control library is not available. The caller owns it.
QObject *createLineComm();

// Whether the comm objects need a widget application (QApplication) rather
// than a core one.
bool lineCommNeedsWidgets();

} // namespace exel::hub
