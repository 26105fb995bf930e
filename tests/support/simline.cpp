#include "simline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

namespace movra {

SimulatedLine::SimulatedLine(int port) : m_port(port) {}

SimulatedLine::~SimulatedLine()
{
    stop();
}

QString SimulatedLine::binDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QStringLiteral(MOVRA_BIN_DIR);
}

QString SimulatedLine::meterSimPath()
{
    return QDir(binDir()).filePath(QStringLiteral("meter-sim"));
}

QString SimulatedLine::missingTools()
{
    QStringList missing;
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        missing << QStringLiteral("socat");
    if (!QFileInfo(meterSimPath()).isExecutable())
        missing << meterSimPath();
    return missing.join(QStringLiteral(", "));
}

QString SimulatedLine::dir() const
{
    return m_dir.path();
}

QString SimulatedLine::comPath() const
{
    return QDir(dir()).filePath(QStringLiteral("COM%1").arg(m_port));
}

QString SimulatedLine::simPath() const
{
    return QDir(dir()).filePath(QStringLiteral(".sim-tty"));
}

QString SimulatedLine::simulatorLog() const
{
    QFile log(QDir(dir()).filePath(QStringLiteral("meter-sim.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(log.readAll());
}

bool SimulatedLine::fail(const QString &why)
{
    m_error = why;
    stop();
    return false;
}

bool SimulatedLine::start(const QStringList &meterSimArgs, int timeoutMs)
{
    return startSocat(timeoutMs) && startSimulator(meterSimArgs, timeoutMs);
}

bool SimulatedLine::startSocat(int timeoutMs)
{
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    if (socatRunning())
        return fail(QStringLiteral("socat already runs"));
    m_socat.reset(); // one that ended is replaced
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return fail(QStringLiteral("socat is not installed"));

    // Links left by a killed socat point at pty numbers that another pair may
    // get next; the wait below must see this socat's own links.
    QFile::remove(comPath());
    QFile::remove(simPath());
    m_socat = std::make_unique<QProcess>();
    m_socat->setProgram(socat);
    m_socat->setArguments({QStringLiteral("pty,raw,echo=0,link=%1").arg(comPath()),
                           QStringLiteral("pty,raw,echo=0,link=%1").arg(simPath())});
    m_socat->setStandardOutputFile(QProcess::nullDevice());
    m_socat->setStandardErrorFile(QDir(dir()).filePath(QStringLiteral("socat.log")));
    m_socat->start();
    if (!m_socat->waitForStarted(timeoutMs))
        return fail(QStringLiteral("socat did not start: %1").arg(m_socat->errorString()));

    const QDeadlineTimer deadline(timeoutMs);
    while (!(QFileInfo::exists(comPath()) && QFileInfo::exists(simPath()))) {
        if (m_socat->state() == QProcess::NotRunning || m_socat->waitForFinished(0))
            return fail(QStringLiteral("socat ended before making the links"));
        if (deadline.hasExpired())
            return fail(QStringLiteral("socat made no links within %1 ms").arg(timeoutMs));
        QThread::msleep(5);
    }
    return true;
}

bool SimulatedLine::startSimulator(const QStringList &meterSimArgs, int timeoutMs)
{
    if (!socatRunning())
        return fail(QStringLiteral("no line: socat is not running"));
    return launchSimulator(QStringList{QStringLiteral("--device"), simPath()} + meterSimArgs, timeoutMs);
}

bool SimulatedLine::startOwnPty(const QStringList &meterSimArgs, int timeoutMs)
{
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    if (socatRunning())
        return fail(QStringLiteral("socat runs: COM%1 is taken").arg(m_port));
    return launchSimulator(QStringList{QStringLiteral("--own-pty"), comPath()} + meterSimArgs, timeoutMs);
}

bool SimulatedLine::launchSimulator(const QStringList &arguments, int timeoutMs)
{
    if (simulatorRunning())
        return fail(QStringLiteral("meter-sim already runs"));
    m_sim.reset();
    const QString program = meterSimPath();
    if (!QFileInfo(program).isExecutable())
        return fail(QStringLiteral("no meter-sim at %1").arg(program));

    m_sim = std::make_unique<QProcess>();
    m_sim->setProgram(program);
    m_sim->setArguments(arguments);
    // Its log goes to a file, so that a long run cannot fill a pipe and stall it.
    m_sim->setStandardErrorFile(QDir(dir()).filePath(QStringLiteral("meter-sim.log")),
                                QIODevice::Append);
    m_sim->start();
    if (!m_sim->waitForStarted(timeoutMs))
        return fail(QStringLiteral("meter-sim did not start: %1").arg(m_sim->errorString()));

    const QDeadlineTimer deadline(timeoutMs);
    QByteArray said;
    while (!said.contains("ready\n")) {
        if (deadline.hasExpired())
            return fail(QStringLiteral("meter-sim not ready within %1 ms: %2")
                            .arg(timeoutMs).arg(simulatorLog()));
        if (!m_sim->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))
            && m_sim->state() == QProcess::NotRunning)
            return fail(QStringLiteral("meter-sim ended: %1").arg(simulatorLog()));
        said += m_sim->readAllStandardOutput();
    }
    return true;
}

void SimulatedLine::endProcess(std::unique_ptr<QProcess> &process, bool gently)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        if (gently) {
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        } else {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

void SimulatedLine::stop()
{
    endProcess(m_sim, true);
    endProcess(m_socat, true);
}

void SimulatedLine::killSimulator()
{
    endProcess(m_sim, false);
}

void SimulatedLine::killSocat()
{
    endProcess(m_socat, false);
}

// waitForFinished(0) takes in an end that the event loop has not seen yet.
bool SimulatedLine::simulatorRunning()
{
    return m_sim && m_sim->state() != QProcess::NotRunning && !m_sim->waitForFinished(0);
}

bool SimulatedLine::socatRunning()
{
    return m_socat && m_socat->state() != QProcess::NotRunning && !m_socat->waitForFinished(0);
}

bool SimulatedLine::waitForSimulatorExit(int timeoutMs)
{
    if (!m_sim)
        return true;
    return m_sim->state() == QProcess::NotRunning || m_sim->waitForFinished(timeoutMs);
}

} // namespace movra
