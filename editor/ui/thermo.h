// Thermo: the small progress window an import shows, a caption label and a bar.
#pragma once

#include "thermosink.h"

#include <QDialog>

class QLabel;
class QProgressBar;

namespace exel {

class Thermo : public QDialog, public ThermoSink {
    Q_OBJECT
public:
    explicit Thermo(QWidget *parent = nullptr);

    void showThermo() override;
    void SetTitle(const QString &title) override;
    void updateThermo(int percent) override;
    void closeThermo() override;

    QString title() const;
    int value() const;

private:
    QLabel *m_lblTitle;
    QProgressBar *m_bar;
};

} // namespace exel
