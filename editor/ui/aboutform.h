// The editor's about box.
#pragma once

#include <QDialog>

namespace exel {

class AboutForm : public QDialog {
    Q_OBJECT
public:
    explicit AboutForm(QWidget *parent = nullptr);
};

} // namespace exel
