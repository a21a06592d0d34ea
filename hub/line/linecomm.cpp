// The line's comm object: the window-free comm control.
#include "linecomm.h"

#include "tolcommcore.h"

namespace exel::hub {

QObject *createLineComm()
{
    return new TolCommCore();
}

} // namespace exel::hub
