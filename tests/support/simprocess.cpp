#include "support/simprocess.h"

#include <QDir>
#include <QFile>
#include <QTest>

#ifndef TARVIK2_SIM_PATH
#error "TARVIK2_SIM_PATH must name the simulator binary"
#endif

namespace {
constexpr int AnswerTimeoutMs = 10000;
}

SimProcess::SimProcess(const QString &comDir, const QString &comName, const QStringList &extraArgs)
    : m_comDir(comDir), m_comName(comName), m_extra(extraArgs)
{
}

SimProcess::~SimProcess() { stop(); }

bool SimProcess::start()
{
    QDir(m_work.path()).mkpath(QStringLiteral("recordings"));
    QDir(m_work.path()).mkpath(QStringLiteral("record"));
    QStringList args{QStringLiteral("--com-dir"),    m_comDir,
                     QStringLiteral("--com-name"),   m_comName,
                     QStringLiteral("--recordings"), recordingsDir(),
                     QStringLiteral("--record"),     m_work.path() + QStringLiteral("/record")};
    args += m_extra;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(TARVIK2_SIM_PATH), args);
    if (!m_process.waitForStarted(AnswerTimeoutMs))
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(AnswerTimeoutMs))
            return false;
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    if (!line.startsWith(QStringLiteral("ready ")))
        return false;
    m_slave = line.mid(6);
    return true;
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString SimProcess::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(AnswerTimeoutMs);
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(AnswerTimeoutMs))
            return QStringLiteral("error no answer");
    }
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

QString SimProcess::ok(const QString &line)
{
    const QString answer = command(line);
    if (!answer.startsWith(QStringLiteral("ok")))
        QTest::qFail(qPrintable(QStringLiteral("simulator refused '%1': %2").arg(line, answer)),
                     __FILE__, __LINE__);
    return answer;
}

QByteArray SimProcess::readRecord(const char *name) const
{
    QFile f(m_work.path() + QStringLiteral("/record/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray SimProcess::received()
{
    settle();
    return readRecord("rx.bin");
}

QByteArray SimProcess::sent()
{
    settle();
    return readRecord("tx.bin");
}

void SimProcess::settle()
{
    // The control line and the pty are read separately: wait until the counts stand still and
    // nothing the unit still holds queued (a split reply's tail) is on its way.
    QString before = ok(QStringLiteral("stats"));
    for (int i = 0; i < 100; ++i) {
        QTest::qWait(10);
        const QString now = ok(QStringLiteral("stats"));
        if (now == before && now.contains(QStringLiteral(" queued=0")))
            break;
        before = now;
    }
}

void SimProcess::clearRecord()
{
    settle();
    ok(QStringLiteral("clear record"));
}

QByteArray SimProcess::block()
{
    const QString answer = ok(QStringLiteral("get block"));
    return QByteArray::fromHex(answer.mid(3).toLatin1());
}

void SimProcess::setBlock(const QByteArray &b)
{
    ok(QStringLiteral("set block ") + QString::fromLatin1(b.toHex()));
}

ComFolder::ComFolder()
{
    m_hadPrevious = qEnvironmentVariableIsSet("TARVIK2_COM_DIR");
    m_previous = qgetenv("TARVIK2_COM_DIR");
    qputenv("TARVIK2_COM_DIR", m_dir.path().toUtf8());
    for (int n = 1; n <= 40; ++n)
        link(QStringLiteral("COM%1").arg(n), m_dir.path() + QStringLiteral("/nowhere"));
}

ComFolder::~ComFolder()
{
    if (m_hadPrevious)
        qputenv("TARVIK2_COM_DIR", m_previous);
    else
        qunsetenv("TARVIK2_COM_DIR");
}

void ComFolder::link(const QString &comName, const QString &target)
{
    const QString path = m_dir.path() + QLatin1Char('/') + comName;
    QFile::remove(path);
    QFile::link(target, path);
}

void ComFolder::unlink(const QString &comName)
{
    QFile::remove(m_dir.path() + QLatin1Char('/') + comName);
}
