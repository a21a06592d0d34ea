// Splash window and About box.
#include "frmabout.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace exel {

QPixmap productPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 60, 110));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.15, size * 0.15);
    // A crosspoint grid with a few routes lit.
    const int n = 4;
    const double cell = size * 0.7 / n;
    const double x0 = size * 0.15;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const bool lit = (r == c) || (r == 3 && c == 1);
            p.setBrush(lit ? QColor(0, 230, 0) : QColor(200, 200, 60));
            p.drawEllipse(QRectF(x0 + c * cell + cell * 0.2, x0 + r * cell + cell * 0.2, cell * 0.6, cell * 0.6));
        }
    return pm;
}

namespace {
QPointer<QWidget> g_intro;
}

void closeSplash()
{
    if (g_intro)
        g_intro->close();
}

void showSplash(const QString &title, int milliseconds)
{
    // Not kept on top: a message or the settings dialog raised during start-up
    // must be above it.
    auto *intro = new QWidget(nullptr, Qt::SplashScreen);
    g_intro = intro;
    intro->setObjectName(QStringLiteral("intro"));
    intro->setAttribute(Qt::WA_DeleteOnClose);
    intro->setAttribute(Qt::WA_QuitOnClose, false);
    intro->setWindowTitle(title);
    auto *layout = new QHBoxLayout(intro);
    auto *pic = new QLabel(intro);
    pic->setPixmap(productPixmap(96));
    layout->addWidget(pic);
    auto *text
        = new QLabel(QStringLiteral("<h2>%1</h2><p>Router control panel</p><p>Starting...</p>").arg(title), intro);
    layout->addWidget(text);
    intro->setStyleSheet(QStringLiteral("background: #f4f4ee;"));
    intro->resize(420, 160);
    intro->show();
    QTimer::singleShot(milliseconds, intro, &QWidget::close);
}

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    auto *pic = new QLabel(this);
    pic->setPixmap(productPixmap(64));
    top->addWidget(pic, 0, Qt::AlignTop);
    auto *text = new QLabel(QStringLiteral("<b>32-Bit Xelvard</b><br>Router control panel<br>Version %1<br><br>"
                                           "Routes sources to destinations on a router controller<br>"
                                           "over a serial line or a dial-up modem.")
                                .arg(QApplication::applicationVersion().isEmpty() ? QStringLiteral("1.0")
                                                                                  : QApplication::applicationVersion()),
        this);
    top->addWidget(text, 1);
    layout->addLayout(top);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace exel
