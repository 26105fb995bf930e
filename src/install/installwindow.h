#pragma once
// The installer's window: one button that installs and ends the program.
#include <QString>
#include <QWidget>

class QPushButton;

namespace movra {

class InstallPlatform;

// "安裝" for 0x0404 (Chinese, Taiwan), "Install" for every other language.
QString installCaption(quint16 languageId);

class InstallWindow : public QWidget {
    Q_OBJECT
public:
    // The platform is used, not owned, and must outlive the window.
    explicit InstallWindow(InstallPlatform &platform, QWidget *parent = nullptr);

    QPushButton *button() const { return m_button; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void install();

    InstallPlatform &m_platform;
    QPushButton *m_button;
    bool m_installed = false;
    bool m_centred = false;
};

} // namespace movra
