// The line's comm object: the TolComm control for now (see linecomm.h).
#include "linecomm.h"

#include "controlfactory.h"

#include <QWidget>

namespace exel::hub {

QObject *createLineComm()
{
    return createControl(QStringLiteral("TolLinkware.TolComm"), nullptr);
}

bool lineCommNeedsWidgets()
{
    return true;
}

} // namespace exel::hub
