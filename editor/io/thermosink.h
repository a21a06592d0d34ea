// The progress display an import drives: a caption and a 0..100 bar. The
// editor's window layer shows it as the Thermo form; tests record it.
#pragma once

#include <QString>

namespace exel {

class ThermoSink {
public:
    virtual ~ThermoSink() = default;
    virtual void showThermo() { }
    virtual void SetTitle(const QString &title) = 0;
    virtual void updateThermo(int percent) = 0;
    virtual void closeThermo() { }
};

} // namespace exel
