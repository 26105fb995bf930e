#include "clock.h"
#include "form1.h"
#include "commport.h"
#include "language.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    movra::SystemClock clock;
    const QString exeDir = QCoreApplication::applicationDirPath();
    movra::Form1Environment env;
    env.exeDir = exeDir;
    env.langId = movra::systemLangId();
    env.makePort = [exeDir] { return movra::makeSystemPort(exeDir); };
    env.clock = &clock;
    env.quit = [] { QCoreApplication::exit(0); };
    movra::Form1 window(std::move(env));
    window.show();
    return app.exec();
}
