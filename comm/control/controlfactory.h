// Creation of controls by ProgID, and the per-user registration of the
// library that provides them.
//
// Loading libtolcom.so fills the factory table with "TolLinkware.TolComm"; a
// host then creates the control by name:
//   QWidget *comm = exel::createControl("TolLinkware.TolComm", form);
// A control created this way is set up as a new control (its defaults and
// modem strings); a host that keeps a property bag calls ReadProperties next.
#pragma once

#include "tolcomexport.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace exel {

using ControlCreator = QWidget *(*)(QWidget *parent);

// Adds (or replaces) the creator for progId; false for an empty id or creator.
TOLCOM_EXPORT bool registerControlClass(const QString &progId, ControlCreator creator);
// A new control of class progId (ProgIDs match case-blind), or nullptr when
// none is registered.
TOLCOM_EXPORT QWidget *createControl(const QString &progId, QWidget *parent = nullptr);
TOLCOM_EXPORT QStringList registeredControlClasses();

// The per-user registration file: TolLinkware.ini in $XDG_CONFIG_HOME
// (default ~/.config), key = ProgID, value = path of the library.
TOLCOM_EXPORT QString registrationFile();
// The library path recorded for progId, or "" when it is not registered.
TOLCOM_EXPORT QString registeredLibrary(const QString &progId);

} // namespace exel

extern "C" {
// Record this library for each ProgID it provides, per user: 0 on success,
// else an errno value.
TOLCOM_EXPORT int DllRegisterServer(void);
// Remove those records: 0 on success, else an errno value.
TOLCOM_EXPORT int DllUnregisterServer(void);
}
