// A COM name whose device the user may not open: the log says which device and how to get
// access. Run as root, the test repeats itself as an unprivileged user, since root may open
// anything.

#include "app/tform1.h"
#include "support/simprocess.h"
#include "support/windowdriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {
const char *const DeviceVariable = "TARVIK2_DENIED_DEVICE";
}

class PermissionTest : public QObject {
    Q_OBJECT

private slots:
    void deniedDevice();
    void deniedDeviceAsUnprivilegedUser();
};

// The check itself: runs only in the unprivileged child.
void PermissionTest::deniedDevice()
{
    const QString device = qEnvironmentVariable(DeviceVariable);
    if (device.isEmpty())
        QSKIP("runs as the unprivileged child of deniedDeviceAsUnprivilegedUser");
    ComFolder folder;
    folder.link("COM5", device);
    TForm1 form(nullptr, 100);
    waitIdle(form);
    press(form.Button1);
    QVERIFY(!form.connected());
    const QStringList lines = form.Memo1->toPlainText().split('\n');
    QCOMPARE(lines.mid(lines.size() - 3, 2), QStringList({"Ошибка подключения", "0"}));
    const QString reason = lines.last();
    QVERIFY2(reason.startsWith("COM5 (" + device + "): нет доступа") && reason.contains("dialout"),
             qPrintable(reason));
}

void PermissionTest::deniedDeviceAsUnprivilegedUser()
{
    if (!qEnvironmentVariableIsEmpty(DeviceVariable))
        QSKIP("already the child");
    if (::geteuid() != 0)
        QSKIP("needs root to make a device another user may not open");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
    const QString device = dir.path() + "/ttyDenied";
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QFile::setPermissions(device, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    // A copy the other user can reach, wherever the build folder lies.
    const QString self = dir.path() + "/tst_permission";
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(DeviceVariable, device);
    env.insert("HOME", dir.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("setpriv",
                {"--reuid=65534", "--regid=65534", "--clear-groups", self, "deniedDevice"});
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    QVERIFY2(child.exitCode() == 0 && output.contains("PASS   : PermissionTest::deniedDevice()"),
             qPrintable(output));
}

QTEST_MAIN(PermissionTest)
#include "tst_permission.moc"
