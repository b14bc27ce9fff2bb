#include "cli/doctor.h"

#include "cli/output.h"
#include "cli/portcommands.h"
#include "cli/runner.h"
#include "cli/session.h"
#include "cli/status.h"
#include "serial/adapter.h"
#include "serial/comnames.h"
#include "serial/portholders.h"
#include "serial/serialchannel.h"
#include "serial/serialdevice.h"
#include "serial/systemtree.h"
#include "serial/udev.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Commands {

namespace {

// The rules file the fixes add their lines to: it sorts after the system's own rules, so that
// what it sets stands.
const char OwnRules[] = "/etc/udev/rules.d/99-tarvik2.rules";
const char Reload[] = "then sudo udevadm control --reload, and plug the adapter in again";

enum class Mark { Ok, Note, Fail };

// One check's line, and under a failed one its fixes. Returns whether the check passed: a note
// says what is so without counting against the port.
bool say(Mark mark, const QString &about, const QString &text, const QStringList &fixes = {})
{
    static const char *const Marks[] = {"ok    ", "note  ", "FAIL  "};
    const Output out;
    out.result(QLatin1String(Marks[int(mark)]) + about + QStringLiteral(": ") + text);
    for (const QString &fix : fixes)
        out.result(QStringLiteral("      fix: ") + fix);
    return mark != Mark::Fail;
}

// A word as the shell takes it: quoted where it holds anything but a path's plain characters.
QString shellWord(const QString &word)
{
    static const QRegularExpression Plain(QStringLiteral("^[A-Za-z0-9_./~+:=-]+$"));
    if (Plain.match(word).hasMatch())
        return word;
    return QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

bool inGroups(gid_t group, const std::vector<gid_t> &groups)
{
    return std::find(groups.cbegin(), groups.cend(), group) != groups.cend();
}

// The groups this login runs with: the ones it started with.
std::vector<gid_t> loginGroups()
{
    std::vector<gid_t> groups(std::size_t(std::max(0, ::getgroups(0, nullptr))));
    groups.resize(std::size_t(std::max(0, ::getgroups(int(groups.size()), groups.data()))));
    groups.push_back(::getegid());
    return groups;
}

// The groups the system's database gives the user now, added since the login started or not.
std::vector<gid_t> accountGroups(const passwd &user)
{
    std::vector<gid_t> groups(64);
    int count = int(groups.size());
    if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
        groups.resize(std::size_t(count));
        ::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count);
    }
    groups.resize(std::size_t(std::max(0, count)));
    return groups;
}

// Whether the user is in a group with this login, only from the next one on, or not at all.
enum class Member { Now, NextLogin, No };

Member membership(gid_t gid, const passwd *user)
{
    if (inGroups(gid, loginGroups()))
        return Member::Now;
    return user && inGroups(gid, accountGroups(*user)) ? Member::NextLogin : Member::No;
}

// What puts the user in the group: logging in again, or being added first.
QString joinFix(Member member, const QString &group, const passwd *user)
{
    if (member == Member::NextLogin)
        return QStringLiteral("log in again");
    return QStringLiteral("sudo usermod -aG %1 %2, then log in again")
        .arg(group, user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER"));
}

bool checkAccess(const QString &about, const QString &node)
{
    const QByteArray path = QFile::encodeName(node);
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return say(Mark::Ok, about,
                   QStringLiteral("the device is there, and you may read and write it"));
    struct stat status {};
    ::stat(path.constData(), &status);
    const passwd *owner = ::getpwuid(status.st_uid);
    const group *owners = ::getgrgid(status.st_gid);
    const QString group =
        owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(status.st_gid);
    const QString denied =
        QStringLiteral("you may not read and write it (owner %1, group %2, mode %3)")
            .arg(owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(status.st_uid),
                 group, QString::number(status.st_mode & 07777, 8).rightJustified(4, u'0'));
    const passwd *user = ::getpwuid(::getuid());
    if ((status.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        // Serial ports belong to dialout: the device is handed to it, until it is plugged in
        // again.
        QString fix = QStringLiteral("sudo chgrp dialout %1 && sudo chmod g+rw %1 (until it is "
                                     "plugged in again)")
                          .arg(shellWord(node));
        const struct group *dialout = ::getgrnam("dialout");
        const Member member = dialout ? membership(dialout->gr_gid, user) : Member::No;
        if (member != Member::Now)
            fix += QStringLiteral(", and ") + joinFix(member, QStringLiteral("dialout"), user);
        return say(Mark::Fail, about, denied + QStringLiteral(": its group may not either"), {fix});
    }
    switch (membership(status.st_gid, user)) {
    case Member::Now:
        break;
    case Member::NextLogin:
        return say(Mark::Fail, about,
                   denied + QStringLiteral("; you were added to the group %1 after this login "
                                           "started")
                                .arg(group),
                   {joinFix(Member::NextLogin, group, user)});
    case Member::No:
        return say(Mark::Fail, about,
                   denied + QStringLiteral("; you are not in the group %1").arg(group),
                   {joinFix(Member::No, group, user)});
    }
    return say(Mark::Fail, about,
               denied + QStringLiteral("; you are in the group %1, and the system refuses it all "
                                       "the same")
                            .arg(group));
}

bool checkHolders(const QString &about, const QString &node)
{
    const QList<PortHolders::Holder> holders = PortHolders::of(node);
    if (holders.isEmpty())
        return say(Mark::Ok, about, QStringLiteral("no other program holds it"));
    QStringList names;
    for (const PortHolders::Holder &holder : holders)
        names << PortHolders::describe({holder}) +
                     (holder.lockFile ? QStringLiteral(" by its lock file") : QString());
    return say(Mark::Fail, about,
               QStringLiteral("held by %1: the tool cannot have the line to itself")
                   .arg(names.join(QStringLiteral(", "))),
               {QStringLiteral("close the port in that program, or end it")});
}

// brltty takes USB serial chips that some braille displays are built on for a display.
bool checkBrltty(const QString &about, const SerialDevice &device)
{
    if (!device.usb())
        return say(Mark::Ok, about, QStringLiteral("no USB adapter, so brltty's rules pass it by"));
    const bool installed = QFileInfo::exists(SystemTree::path(QStringLiteral("/usr/bin/brltty"))) ||
                           QFileInfo::exists(SystemTree::path(QStringLiteral("/bin/brltty")));
    if (!installed)
        return say(Mark::Ok, about, QStringLiteral("brltty is not installed"));
    const QList<Udev::RuleLine> lines =
        Udev::linesPicking(QStringLiteral("*brltty*.rules"), device.vendorId, device.productId);
    if (lines.isEmpty())
        return say(Mark::Ok, about,
                   QStringLiteral("brltty is installed, and none of its udev rules takes %1")
                       .arg(device.vidPid()));
    QStringList places;
    QStringList masks;
    for (const Udev::RuleLine &line : lines) {
        places << QStringLiteral("%1:%2").arg(line.file).arg(line.line);
        const QString etc = QStringLiteral("/etc/udev/rules.d/") + QFileInfo(line.file).fileName();
        const QString mask = QStringLiteral("sudo ln -s%1 /dev/null %2")
                                 .arg(line.file == etc ? QStringLiteral("f") : QString(), etc);
        if (!masks.contains(mask))
            masks << mask;
    }
    return say(Mark::Fail, about,
               QStringLiteral("brltty's udev rules take %1 for a braille display (%2): it takes "
                              "the adapter about half a second after it appears, and the port "
                              "vanishes")
                   .arg(device.vidPid(), places.join(QStringLiteral(", "))),
               {QStringLiteral("sudo apt-get remove brltty, or mask the rule: ") +
                masks.join(QStringLiteral(" && ")) +
                QStringLiteral("; then plug the adapter in again")});
}

bool running(const QString &program)
{
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(proc.filePath(entry) + QStringLiteral("/comm"));
        if (entry.front().isDigit() && comm.open(QIODevice::ReadOnly) &&
            comm.readAll().trimmed() == program.toUtf8())
            return true;
    }
    return false;
}

bool checkModemManager(const QString &about, const SerialDevice &device)
{
    if (!running(QStringLiteral("ModemManager")))
        return say(Mark::Ok, about, QStringLiteral("ModemManager is not running"));
    if (Udev::property(device.node, QStringLiteral("ID_MM_DEVICE_IGNORE")) == QLatin1String("1"))
        return say(Mark::Ok, about,
                   QStringLiteral("ModemManager runs, and udev tells it to leave this device "
                                  "alone"));
    if (!device.usb() && device.node.startsWith(QLatin1String("/dev/pts/")))
        return say(Mark::Ok, about,
                   QStringLiteral("ModemManager runs, and never probes a pseudo-terminal"));
    const QString match =
        device.usb() ? QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\"")
                           .arg(device.vendorId, device.productId)
                     : QStringLiteral("KERNEL==\"%1\"").arg(QFileInfo(device.node).fileName());
    return say(Mark::Fail, about,
               QStringLiteral("ModemManager runs and may probe this port: it sends modem "
                              "commands down the line when the port appears"),
               {QStringLiteral("add the line '%1, ENV{ID_MM_DEVICE_IGNORE}=\"1\"' to %2, %3")
                    .arg(match, QLatin1String(OwnRules), QLatin1String(Reload))});
}

bool checkLatency(const QString &about, const QString &node)
{
    using LowLatency = SerialChannel::LowLatency;
    Line::OpenReason why;
    const std::optional<LowLatency> held = SerialChannel::probeLowLatency(node, &why);
    if (!held)
        return say(Mark::Fail, about,
                   QStringLiteral("it does not open (%1), so its low-latency mode is not known")
                       .arg(openFailureText(why.failure)));
    const QString request = *held == LowLatency::Granted ? QStringLiteral("low latency granted")
                            : *held == LowLatency::Refused
                                ? QStringLiteral("the driver refused low latency")
                                : QStringLiteral("the driver takes no low-latency request");
    const Adapter adapter = Adapter::lookup(node);
    const QString line = request + QStringLiteral("; ") + adapterText(adapter);
    const Mark asked = *held == LowLatency::Granted ? Mark::Ok : Mark::Note;
    switch (adapter.kind) {
    case Adapter::Kind::Ftdi:
        // The chip holds a packet it has not filled for its timer, whatever the flag says.
        if (adapter.latencyMs == 1)
            return say(Mark::Ok, about, line);
        return say(Mark::Fail, about,
                   line + QStringLiteral(": the chip holds the end of each reply for its "
                                         "timer, and every exchange waits %1 ms for a quiet "
                                         "line")
                              .arg(adapter.settleMs),
                   {QStringLiteral("add the line 'ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
                                   "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"' to %1, %2")
                        .arg(QLatin1String(OwnRules), QLatin1String(Reload))});
    case Adapter::Kind::Usb:
        return say(asked, about,
                   line + QStringLiteral(": the tool allows for such a chip's delay either way"));
    case Adapter::Kind::Native:
        break;
    }
    return say(asked, about,
               line + QStringLiteral(": bytes come as they cross the line, so it needs none"));
}

bool checkHandshake(const QString &about, const Port &port)
{
    const int status =
        runOnPort(port, Output(about + QStringLiteral(": ")),
                  [](Session &session, const Output &) { return session.connect(); });
    if (status == Status::Done)
        return say(Mark::Ok, about, QStringLiteral("a unit answered the handshake"));
    if (status == Status::NoPort)
        return say(Mark::Fail, about, QStringLiteral("the port did not open for the handshake"));
    return say(Mark::Fail, about, QStringLiteral("no unit answered the handshake"),
               {QStringLiteral("see that the unit is powered and its cable is on this port")});
}

bool checkPort(const Port &port, const QString &path, bool handshake)
{
    const std::optional<SerialDevice> device = SerialDevice::describe(path);
    if (!device) {
        const QFileInfo link(path);
        const QString target = link.isSymLink() ? link.symLinkTarget() : path;
        return say(Mark::Fail, port.name == target ? target : port.name + QLatin1Char(' ') + target,
                   QStringLiteral("no such device"),
                   {QStringLiteral("plug the adapter in; tarvik2-cli ports --all lists the serial "
                                   "devices the system has, tarvik2-cli link COMn DEVICE points a "
                                   "COM name at one")});
    }
    const QString &node = device->node;
    const QString about = port.name == node ? node : port.name + QLatin1Char(' ') + node;
    // Every check runs, whatever the ones before it found.
    bool passed = checkAccess(about, node);
    passed &= checkHolders(about, node);
    passed &= checkBrltty(about, *device);
    passed &= checkModemManager(about, *device);
    passed &= checkLatency(about, node);
    if (handshake)
        passed &= checkHandshake(about, port);
    return passed;
}

bool checkComFolder()
{
    const QString folder = ComNames::linkFolder();
    const QString about = QStringLiteral("COM folder ") + folder;
    if (!QFileInfo(folder).isDir())
        return say(Mark::Ok, about,
                   QStringLiteral("not there: every COM name takes the fixed table"));
    // The fix names the folder unless it is the one the tool finds by itself.
    const bool own = folder == QDir::homePath() + QStringLiteral("/.config/tarvik2/com");
    const QString tool = own ? QStringLiteral("tarvik2-cli ")
                             : QStringLiteral("tarvik2-cli --com-dir %1 ").arg(shellWord(folder));
    QStringList dangling;
    QStringList fixes;
    for (int index = 0; index < ComNames::Count; ++index) {
        const QFileInfo link(folder + QLatin1Char('/') + ComNames::name(index));
        if (!link.isSymLink() || link.exists())
            continue;
        dangling << ComNames::name(index) + QStringLiteral(" -> ") + link.symLinkTarget();
        fixes << tool + QStringLiteral("link --remove ") + ComNames::name(index);
    }
    if (dangling.isEmpty())
        return say(Mark::Ok, about, QStringLiteral("every link leads to something"));
    return say(Mark::Fail, about,
               QStringLiteral("links that lead nowhere: ") + dangling.join(QStringLiteral(", ")),
               fixes);
}

} // namespace

int doctor(const std::optional<QList<Port>> &ports)
{
    bool passed = true;
    if (ports) {
        for (const Port &port : *ports)
            passed &= checkPort(
                port, port.index >= 0 ? ComNames::devicePath(port.index) : port.path, true);
    } else {
        QStringList present;
        for (const SerialDevice &device : SerialDevice::present())
            present << device.node;
        bool any = false;
        for (int index = 0; index < ComNames::Count; ++index) {
            const QString path = ComNames::devicePath(index);
            const std::optional<SerialDevice> device = SerialDevice::describe(path);
            if (!device || !present.contains(device->node))
                continue;
            any = true;
            Port port;
            port.name = ComNames::name(index);
            port.index = index;
            passed &= checkPort(port, path, false);
        }
        if (!any)
            passed = say(Mark::Fail, QStringLiteral("ports"),
                         QStringLiteral("no COM name leads to a serial device the system has"),
                         {QStringLiteral("plug the adapter in; tarvik2-cli ports --all lists the "
                                         "serial devices the system has, tarvik2-cli link COMn "
                                         "DEVICE points a COM name at one")});
    }
    passed &= checkComFolder();
    return passed ? Status::Done : Status::NoPort;
}

} // namespace Commands
