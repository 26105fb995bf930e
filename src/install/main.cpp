// Install: copies the operator tool and its files into place and puts a
// shortcut on the desktop, in one click.
#include "installwindow.h"
#include "platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    movra::SystemPlatform platform(QCoreApplication::applicationDirPath());
    movra::InstallWindow window(platform);
    window.show();
    return app.exec();
}
