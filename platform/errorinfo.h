// An error as the system reports it to the user: a number and its description.
#pragma once

#include <QString>

namespace exel {

struct ErrorInfo {
    int number = 0;
    QString description;

    bool isError() const { return number != 0; }
};

// The OS error number and its strerror text.
ErrorInfo errorFromErrno(int err);

// Arithmetic overflow past the 16-bit range: error 6, "Overflow".
ErrorInfo overflowError();

// "Error # " followed by the number with its leading blank, a line break and the
// description: the tail of every file and device error message.
QString errorLines(const ErrorInfo &error);

} // namespace exel
