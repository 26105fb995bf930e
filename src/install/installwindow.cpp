#include "installwindow.h"

#include "platform.h"
#include "steps.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <iterator>

namespace movra {

namespace {

// 15 twips a pixel at 96 dots per inch.
constexpr int px(int twips) { return twips / 15; }

QIcon installIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A box with an arrow going into it.
    p.setPen(QPen(QColor(0, 96, 96), 2));
    p.setBrush(QColor(0, 192, 192));
    p.drawRect(4, 16, 24, 13);
    p.setBrush(QColor(255, 255, 255));
    const QPoint arrow[] = {{13, 2}, {19, 2}, {19, 12}, {24, 12}, {16, 22}, {8, 12}, {13, 12}};
    p.drawPolygon(arrow, int(std::size(arrow)));
    return QIcon(pixmap);
}

} // namespace

QString installCaption(quint16 languageId)
{
    return languageId == ChineseTaiwanLanguageId ? u"安裝"_qs : u"Install"_qs;
}

InstallWindow::InstallWindow(InstallPlatform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_platform(platform),
      m_button(new QPushButton(this))
{
    setObjectName(u"Form1"_qs);
    setWindowTitle(u"Install Movra_Modbus Test"_qs);
    setWindowIcon(installIcon());
    setFixedSize(px(3525), px(1935));

    m_button->setObjectName(u"Command1"_qs);
    m_button->setGeometry(px(240), px(360), px(2895), px(975));
    m_button->setStyleSheet(u"QPushButton#Command1 { background-color: rgb(0, 192, 192);"
                            " border: 2px outset rgb(0, 128, 128); }"
                            " QPushButton#Command1:pressed { border-style: inset; }"_qs);
    QFont font;
    // The Kai face of the original; the Traditional Chinese Noto faces stand in.
    font.setFamilies({u"標楷體"_qs, u"DFKai-SB"_qs, u"Noto Serif CJK TC"_qs,
                      u"Noto Sans CJK TC"_qs});
    font.setPointSize(24);
    font.setBold(true);
    m_button->setFont(font);
    m_button->setText(installCaption(m_platform.languageId()));
    connect(m_button, &QPushButton::clicked, this, &InstallWindow::install);
}

void InstallWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void InstallWindow::install()
{
    // One installation per start, even if clicks queued up meanwhile.
    if (m_installed)
        return;
    m_installed = true;
    runInstallation(m_platform);
    close();
}

} // namespace movra
