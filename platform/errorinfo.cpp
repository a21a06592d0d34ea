// Error numbers and their texts.
#include "errorinfo.h"
#include "numberrules.h"

#include <cstring>

namespace exel {

ErrorInfo errorFromErrno(int err)
{
    return ErrorInfo{err, QString::fromLocal8Bit(std::strerror(err))};
}

ErrorInfo overflowError()
{
    return ErrorInfo{6, QStringLiteral("Overflow")};
}

QString errorLines(const ErrorInfo &error)
{
    return QStringLiteral("Error # ") + numberWithSign(error.number) + QLatin1Char('\n') + error.description;
}

} // namespace exel
