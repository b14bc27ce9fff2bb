#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The unit simulator, run as its own process on a pty for one test. It links itself into a
// COM folder under a COM name, keeps a record of every byte on the wire and takes fault
// commands on its standard input.
class SimProcess {
public:
    // comDir: the COM folder to link into; comName: "COM5" and the like.
    // extraArgs: further options, "--fast" by default (no line pacing).
    SimProcess(const QString &comDir, const QString &comName,
               const QStringList &extraArgs = {QStringLiteral("--fast")});
    ~SimProcess();

    bool start();
    void stop();

    // Sends one control line and returns the simulator's answer line ("ok ..." / "error ...").
    QString command(const QString &line);
    // command() that must answer "ok"; fails the running test otherwise.
    QString ok(const QString &line);

    QString slavePath() const { return m_slave; }
    QString recordingsDir() const { return m_work.path() + QStringLiteral("/recordings"); }
    // Every byte the unit received / sent, in order, once the line has settled.
    QByteArray received();
    QByteArray sent();
    // How many bytes the unit has received, read from the record without waiting for the line
    // to settle. Exact once the unit has answered the last byte sent to it: it records what it
    // gets before it answers.
    qint64 receivedCount() const { return QFileInfo(m_work.path() + "/record/rx.bin").size(); }
    // Forgets the record so far, once the bytes already on their way have come in.
    void clearRecord();
    // Waits until bytes already on their way have come in.
    void settle();

    QByteArray block();                 // the unit's stored settings block
    void setBlock(const QByteArray &b); // replaces it

private:
    QByteArray readRecord(const char *name) const;

    QProcess m_process;
    QTemporaryDir m_work;
    QString m_comDir;
    QString m_comName;
    QStringList m_extra;
    QString m_slave;
};

// A private COM folder for one test: every COM name links nowhere until a simulator (or the
// test) points it at a device, so that the machine's own serial ports never show up.
class ComFolder {
public:
    ComFolder();
    ~ComFolder();
    QString path() const { return m_dir.path(); }
    void link(const QString &comName, const QString &target);
    void unlink(const QString &comName); // the name falls back to the fixed table

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};
