// The progress window of the import.
#include "thermo.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace exel {

Thermo::Thermo(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_lblTitle(new QLabel(this))
    , m_bar(new QProgressBar(this))
{
    setObjectName(QStringLiteral("Thermo"));
    setWindowTitle(QStringLiteral("Working"));
    setModal(true);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(m_lblTitle);
    layout->addWidget(m_bar);
    setMinimumWidth(380);
}

void Thermo::showThermo()
{
    show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Thermo::SetTitle(const QString &title)
{
    m_lblTitle->setText(title);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Thermo::updateThermo(int percent)
{
    const int v = qBound(0, percent, 100);
    if (v == m_bar->value())
        return;
    m_bar->setValue(v);
    // Let the bar paint during a long import without accepting input.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Thermo::closeThermo()
{
    hide();
}

QString Thermo::title() const
{
    return m_lblTitle->text();
}

int Thermo::value() const
{
    return m_bar->value();
}

} // namespace exel
