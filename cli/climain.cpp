// tarvik2-cli: the command-line companion of the window, for backups, commissioning many
// units and measurement logs.

#include "cli/doctor.h"
#include "cli/files.h"
#include "cli/output.h"
#include "cli/portcommands.h"
#include "cli/report.h"
#include "cli/siterecord.h"
#include "cli/status.h"
#include "cli/subcommands.h"
#include "device/protocol.h"
#include "device/settingslayout.h"
#include "upload/soundupload.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

const char Usage[] = R"(Usage: tarvik2-cli [--com-dir DIR] COMMAND [ARGS]

Backs up, restores and clones the settings of TARVIK2 announcer units, uploads their
recordings and logs their measurements, over serial ports.

Commands:
  ports [--all] [--json]              COM names that reach a device: "COM5 /dev/ttyUSB0" per
                                      line, then free or busy (and who holds it), the stable
                                      name, USB VID:PID and serial, and the adapter with the
                                      quiet line the tool waits for; --all adds the serial
                                      devices no COM name reaches
  link    COMn DEVICE | --remove COMn the link COMn in the COM folder, to DEVICE's by-id name
                                      (a unique serial), else its by-path name (the socket),
                                      else the node; the window finds its ports there too
  info    -p PORTS                    handshake and identity: device type, software version,
                                      address, zone, and the line's adapter
  read    -p PORTS [-o FILE]          settings to a settings file (FILE, or standard output)
  write   -p PORTS FILE [--set KEY=VALUE]... [--whole] [--dry-run] [--no-verify] [--force]
                                      settings from a settings file, read back and compared
  reset   -p PORTS                    factory settings, read back and checked
  upload  -p PORTS (--messages PPK1.wav PPK2.wav | --siren SIREN.wav)
  monitor -p PORTS [--interval MS] [--count N] [--csv FILE] [--no-reconnect]
                                      measurements as CSV; a lost line is waited for, on
                                      the same adapter, and the log goes on
  diff    A B                         A and B: a settings file, or a port as "port:COM5"
  doctor  [-p PORTS]                  what keeps the tool from a port, one line each, with the
                                      fix for what fails: access, holders, brltty, ModemManager,
                                      low latency, the COM folder's links; with -p the ports
                                      named and a handshake, else every COM name that leads to
                                      a device
  site init DIR [--name NAME] [--template FILE]
                                      a site folder: backups and a commissioning journal
  site verify DIR                     the journal's chain checked; each line that was
                                      changed, inserted or removed is named (exit status 1)
  report  DIR -o FILE                 the site's report: PDF (A4), HTML or CSV by FILE's
                                      extension; a broken chain is said on its first page

Site records:
  --site DIR (or $TARVIK2_SITE) on read, write, reset, upload and info keeps a record in the
  site folder DIR: before write, reset or upload sends anything the unit's confirmed settings
  are saved under DIR/backups/ (named by address, zone and UTC time; never replaced), and a
  backup that cannot be saved stops the change (exit status 2). Every operation appends one
  record to DIR/journal.jsonl: time, operator (--operator NAME, else the login name), port and
  adapter, the unit, the changes, the verify result, the exit status, uploaded files with
  their SHA-256, and the backup. Each record carries the SHA-256 of the one before it.

"tarvik2-cli COMMAND --help" describes one command.

Options:
  --com-dir DIR   the folder of COM1..COM40 links ($TARVIK2_COM_DIR, else ~/.config/tarvik2/com)
  -h, --help      this text
  --version       the tool's version

Ports:
  PORTS is one or more of COM1..COM40 or device paths, separated by commas. A COM name is a
  link of that name in the COM folder, else /dev/ttyS0-3 (COM1-4), /dev/ttyUSB0-7 (COM5-12),
  /dev/ttyACM0-7 (COM13-20), /dev/ttyS4-23 (COM21-40). With several ports the command runs
  on all of them at once, every output line starts with "NAME: ", and an output file name
  must contain {port}.

Exit status:
  0  done, and verified where verifying applies
  1  diff found differences, or site verify a broken chain
  2  bad arguments, file or value; nothing was sent. Or a file, or standard output, that
     could not be written
  3  the port could not be opened; for doctor, a check failed
  4  the unit did not answer, answered short, or the line was lost
  5  the read-back differs from what was written, or the factory-reset check failed
  130, 143  interrupted by SIGINT (Ctrl+C) or SIGTERM. A block already going to a unit is
     never cut: the tool ends after it, and after the unit's pause, saying what the unit
     holds; a second signal ends it at once. Ctrl+C is monitor's usual end, with status 0,
     or 4 while its line is lost.
  With several ports, the worst of them.
)";

void say(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

// The user the tool runs for, as the system knows them.
QString loginName()
{
    if (const passwd *entry = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    const QString fromEnv = qEnvironmentVariable("LOGNAME");
    return fromEnv.isEmpty() ? QStringLiteral("uid %1").arg(::getuid()) : fromEnv;
}

// The parser of one command: its description, options and arguments, --help and --com-dir.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption comDir{QStringLiteral("com-dir"),
                              QStringLiteral("The folder of COM1..COM40 links."),
                              QStringLiteral("DIR")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("This text.")};
    QCommandLineOption ports{{QStringLiteral("p"), QStringLiteral("ports")},
                             QStringLiteral("COM1..COM40 or device paths, separated by commas."),
                             QStringLiteral("PORTS")};
    QCommandLineOption siteDir{QStringLiteral("site"),
                               QStringLiteral("Keep a record in the site folder DIR "
                                              "($TARVIK2_SITE): a backup before every change "
                                              "and a journal record of the operation."),
                               QStringLiteral("DIR")};
    QCommandLineOption operatorName{QStringLiteral("operator"),
                                    QStringLiteral("Who runs it, for the journal (default: the "
                                                   "login name)."),
                                    QStringLiteral("NAME")};
    bool withSite = false;
    std::optional<SiteContext> site;

    CommandLine(const QString &description, bool withPorts, bool siteRecords = false)
        : withSite(siteRecords)
    {
        parser.setApplicationDescription(description);
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
        parser.addOption(help);
        parser.addOption(comDir);
        if (withPorts)
            parser.addOption(ports);
        if (withSite)
            parser.addOptions({siteDir, operatorName});
    }

    // The site the run keeps its record in; none without --site or $TARVIK2_SITE.
    const SiteContext *siteContext() const { return site ? &*site : nullptr; }

    // Parses; returns -1 to go on, or the status to end with (after --help or an error).
    int parse(const QStringList &arguments, int positionalMin, int positionalMax)
    {
        if (!parser.parse(arguments))
            return refuse(parser.errorText());
        if (parser.isSet(help)) {
            // The usage line names the command, not the path the tool was started by.
            QString text = parser.helpText();
            text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                         QStringLiteral("Usage: ") + arguments.first());
            say(stdout, text);
            return Status::Done;
        }
        if (parser.isSet(comDir))
            qputenv("TARVIK2_COM_DIR", QFile::encodeName(parser.value(comDir)));
        const qsizetype count = parser.positionalArguments().size();
        if (count < positionalMin || count > positionalMax)
            return refuse(QStringLiteral("wrong number of arguments; see --help"));
        if (withSite) {
            const QString dir = parser.isSet(siteDir) ? parser.value(siteDir)
                                                      : qEnvironmentVariable("TARVIK2_SITE");
            if (!dir.isEmpty()) {
                QString error;
                std::optional<Site> opened = Site::open(dir, &error);
                if (!opened)
                    return refuse(error + QStringLiteral("; nothing was sent"));
                site = SiteContext{*opened, parser.isSet(operatorName) ? parser.value(operatorName)
                                                                       : loginName()};
            }
        }
        return -1;
    }

    std::optional<QList<Port>> portList(int *status)
    {
        if (!parser.isSet(ports)) {
            *status = refuse(QStringLiteral("name the ports with -p"));
            return std::nullopt;
        }
        QString error;
        auto list = parsePorts(parser.value(ports), &error);
        if (!list)
            *status = refuse(error);
        return list;
    }
};

// The file name of -o or --csv, checked before any port is opened; nothing when it is refused
// (with the status in *status). Empty, like "-", stands for standard output. With several
// ports the name needs {port}, and no two ports may come to the same file. A file that is
// saved whole over what is there (`replacing`) must be a regular file, if it exists at all.
std::optional<QString> outputPattern(const QString &given, const QString &option,
                                     const QList<Port> &ports, bool replacing, int *status)
{
    const QString pattern = given == QLatin1String("-") ? QString() : given;
    if (pattern.isEmpty())
        return pattern;
    if (ports.size() > 1 && !pattern.contains(QLatin1String("{port}"))) {
        *status = refuse(
            QStringLiteral("with several ports, %1 needs {port} in the file name").arg(option));
        return std::nullopt;
    }
    QHash<QString, QString> portOfFile;
    for (const Port &port : ports) {
        const QString name = portFileName(pattern, port);
        const QString file = QDir::cleanPath(QFileInfo(name).absoluteFilePath());
        if (portOfFile.contains(file)) {
            *status = refuse(QStringLiteral("ports %1 and %2 would both write %3; nothing was sent")
                                 .arg(portOfFile.value(file), port.name, name));
            return std::nullopt;
        }
        portOfFile.insert(file, port.name);
        QString error;
        if (replacing && !Files::mayReplace(name, &error)) {
            *status = refuse(QStringLiteral("cannot write %1: %2").arg(name, error));
            return std::nullopt;
        }
    }
    return pattern;
}

int commandPorts(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral("Lists the COM names that reach a device: the device, whether it is "
                       "free or who holds it, its stable name, its USB identity and its "
                       "adapter."),
        false);
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Also the serial devices no COM name reaches."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The same as JSON."));
    line.parser.addOption(all);
    line.parser.addOption(json);
    if (const int status = line.parse(arguments, 0, 0); status >= 0)
        return status;
    return Commands::ports({.all = line.parser.isSet(all), .json = line.parser.isSet(json)});
}

int commandLink(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral("Links a COM name to a device by its most stable name: by-id where "
                       "the adapter has a serial of its own, else by-path (the USB "
                       "socket), else the node. --remove takes the link away."),
        false);
    const QCommandLineOption remove(QStringLiteral("remove"),
                                    QStringLiteral("Remove the link COMn."));
    line.parser.addOption(remove);
    line.parser.addPositionalArgument(QStringLiteral("COMn"), QStringLiteral("COM1 to COM40."));
    line.parser.addPositionalArgument(
        QStringLiteral("DEVICE"), QStringLiteral("The device: a node, a by-id or by-path name."));
    const bool removing = arguments.contains(QStringLiteral("--remove"));
    if (const int status = line.parse(arguments, removing ? 1 : 2, removing ? 1 : 2); status >= 0)
        return status;
    const QStringList names = line.parser.positionalArguments();
    return removing ? Commands::unlink(names[0]) : Commands::link(names[0], names[1]);
}

int commandDoctor(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral(
            "Checks what keeps the tool from a port, one line each (ok, note or FAIL), and says\n"
            "under each failed check how to put it right: the device and your access to it,\n"
            "programs that hold it, brltty's and ModemManager's udev rules, the low-latency\n"
            "mode; then the COM folder's links. With -p it checks the ports named, one after\n"
            "the other, and asks each for a handshake; without, every COM name that leads to a\n"
            "device the system has. Exit status 3 when a check fails."),
        true);
    if (const int status = line.parse(arguments, 0, 0); status >= 0)
        return status;
    if (!line.parser.isSet(line.ports))
        return Commands::doctor(std::nullopt);
    int status = 0;
    const auto ports = line.portList(&status);
    return ports ? Commands::doctor(*ports) : status;
}

// A command that takes nothing but its ports.
int portsOnlyCommand(const QStringList &arguments, const QString &description,
                     int (*run)(const QList<Port> &, const SiteContext *))
{
    CommandLine line(description, true, true);
    if (const int status = line.parse(arguments, 0, 0); status >= 0)
        return status;
    int status = 0;
    const auto ports = line.portList(&status);
    return ports ? run(*ports, line.siteContext()) : status;
}

int commandInfo(const QStringList &arguments)
{
    return portsOnlyCommand(arguments,
                            QStringLiteral("Handshake, then the unit's device type, software "
                                           "version, network address and alert zone."),
                            &Commands::info);
}

int commandRead(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("Reads the unit's settings into a settings file."), true, true);
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The file; {port} stands for the port's "
                                                   "name. Standard output without it, or "
                                                   "with -."),
                                    QStringLiteral("FILE"));
    line.parser.addOption(output);
    if (const int status = line.parse(arguments, 0, 0); status >= 0)
        return status;
    int status = 0;
    const auto ports = line.portList(&status);
    if (!ports)
        return status;
    const auto pattern =
        outputPattern(line.parser.value(output), QStringLiteral("-o"), *ports, true, &status);
    return pattern ? Commands::read(*ports, *pattern, line.siteContext()) : status;
}

// The written numbers whose range is narrower than their bytes, as "KEY MIN-MAX, ...".
QString narrowRanges()
{
    QStringList ranges;
    for (const SettingsLayout::Field &field : SettingsLayout::Fields) {
        if (field.written && field.kind == SettingsLayout::Kind::Number &&
            (field.min > 0 || field.max < SettingsLayout::widthMax(field)))
            ranges << QStringLiteral("%1 %2-%3")
                          .arg(QLatin1String(field.key))
                          .arg(field.min)
                          .arg(field.max);
    }
    return ranges.join(QStringLiteral(", "));
}

int commandWrite(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral(
            "Writes a settings file to the unit, then reads it back after the unit's 10 s\n"
            "pause and compares.\n\n"
            "The unit's own block is read first, and only the fields that the file (or\n"
            "--set) gives another value are laid over it; everything else goes back as the\n"
            "unit holds it. A field the write changes must lie in its range\n(") +
            narrowRanges() + QStringLiteral(")."),
        true, true);
    const QCommandLineOption set(QStringLiteral("set"),
                                 QStringLiteral("Writes KEY=VALUE instead of the file's value; "
                                                "may be given several times."),
                                 QStringLiteral("KEY=VALUE"));
    const QCommandLineOption whole(QStringLiteral("whole"),
                                   QStringLiteral("Sends the file's own 512 bytes with its "
                                                  "fields laid over: restores a backup. The "
                                                  "informative fields stay the unit's."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Reads the unit and prints what would "
                                                   "change; sends no write."));
    const QCommandLineOption noVerify(QStringLiteral("no-verify"),
                                      QStringLiteral("Ends once the block is sent: no pause, "
                                                     "no read-back."));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("With --whole, writes a file read from "
                                                  "another device type."));
    line.parser.addOptions({set, whole, dryRun, noVerify, force});
    line.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A settings file."));
    if (const int status = line.parse(arguments, 1, 1); status >= 0)
        return status;
    int status = 0;
    const auto ports = line.portList(&status);
    if (!ports)
        return status;

    const QString name = line.parser.positionalArguments().first();
    QString error;
    const std::optional<QByteArray> text = Files::readSmall(name, &error);
    if (!text)
        return refuse(QStringLiteral("cannot read %1: %2").arg(name, error));
    const auto contents = SettingsFile::parse(*text, &error);
    if (!contents)
        return refuse(QStringLiteral("%1: %2; nothing was sent").arg(name, error));
    Commands::WriteOptions options;
    options.file = *contents;
    options.wanted = contents->fields;
    // Each --set overrides the file; two for one field would leave one of them unsaid.
    QSet<QString> setKeys;
    for (const QString &assignment : line.parser.values(set)) {
        if (!SettingsFile::applySet(assignment, options.wanted, &error))
            return refuse(error + QStringLiteral("; nothing was sent"));
        const QString key = assignment.left(assignment.indexOf(QLatin1Char('=')));
        if (setKeys.contains(key))
            return refuse(QStringLiteral("--set %1 is given twice; nothing was sent").arg(key));
        setKeys.insert(key);
    }
    options.whole = line.parser.isSet(whole);
    options.force = line.parser.isSet(force);
    options.dryRun = line.parser.isSet(dryRun);
    options.verify = !line.parser.isSet(noVerify);
    return Commands::write(*ports, options, line.siteContext());
}

int commandReset(const QStringList &arguments)
{
    return portsOnlyCommand(arguments,
                            QStringLiteral("Writes the factory settings over the first 50 bytes "
                                           "of the unit's block and checks them by reading them "
                                           "back."),
                            &Commands::reset);
}

// Why a sound file cannot be sent.
QString refusalText(const SoundUpload::Event &event, const QString &file)
{
    using Refusal = SoundUpload::Event::Refusal;
    switch (event.refusal) {
    case Refusal::None:
    case Refusal::Missing:
        return QStringLiteral("cannot read %1").arg(file);
    case Refusal::NotRegular:
        return QStringLiteral("cannot read %1: not a regular file").arg(file);
    case Refusal::Changed:
        return QStringLiteral("%1 changed while it was read").arg(file);
    case Refusal::BadHeader:
        break;
    }
    return QStringLiteral("%1 is not a WAV file the unit takes").arg(file);
}

int commandUpload(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("Uploads the two alert messages or the siren as WAV "
                                    "files, block by block."),
                     true, true);
    const QCommandLineOption messages(QStringLiteral("messages"),
                                      QStringLiteral("Uploads PPK1.wav and PPK2.wav, "
                                                     "given as the two arguments."));
    const QCommandLineOption siren(QStringLiteral("siren"),
                                   QStringLiteral("Uploads SIREN.wav, given as the argument."));
    line.parser.addOptions({messages, siren});
    line.parser.addPositionalArgument(QStringLiteral("FILES"), QStringLiteral("The WAV files."),
                                      QStringLiteral("FILE..."));
    if (const int status = line.parse(arguments, 1, 2); status >= 0)
        return status;
    if (line.parser.isSet(messages) == line.parser.isSet(siren))
        return refuse(QStringLiteral("give either --messages or --siren"));
    int status = 0;
    const auto ports = line.portList(&status);
    if (!ports)
        return status;
    const SoundUpload::Set set =
        line.parser.isSet(messages) ? SoundUpload::Set::Messages : SoundUpload::Set::Siren;
    Commands::UploadOptions options;
    options.files = line.parser.positionalArguments();
    if (options.files.size() != SoundUpload::fileCount(set))
        return refuse(line.parser.isSet(messages)
                          ? QStringLiteral("--messages takes two files: PPK1.wav PPK2.wav")
                          : QStringLiteral("--siren takes one file"));
    // Every file is read and checked once, before any port is opened.
    const auto sounds = SoundUpload::load(set, options.files, [&](const SoundUpload::Event &event) {
        if (event.kind == SoundUpload::Event::Kind::Refused)
            status = refuse(refusalText(event, options.files.value(event.slot)));
    });
    if (!sounds)
        return status;
    // The unit takes an upload of no block as an empty recording.
    for (int slot = 0; slot < options.files.size(); ++slot) {
        if (sounds->blocks[std::size_t(slot)] == 0)
            return refuse(QStringLiteral("%1 holds no whole block of %2 bytes; nothing was sent")
                              .arg(options.files[slot])
                              .arg(SoundBlockSize));
    }
    options.sounds = *sounds;
    return Commands::upload(*ports, options, line.siteContext());
}

int commandMonitor(const QStringList &arguments)
{
    CommandLine line(
        QStringLiteral(
            "Logs the unit's six measurements as CSV: time,ppk1,ppk2,gochs,adc,light,power.\n"
            "Ctrl+C ends it.\n\n"
            "A lost line is said (\"line lost at TIME\") and let go at once, and the tool\n"
            "waits for the same adapter: for a COM name, the device its link points at again\n"
            "(the same USB adapter, where it was one); for a device path, the device with the\n"
            "same identity (USB VID:PID and a serial of its own, else the USB socket, else\n"
            "the node), wherever it comes back. No other device is opened. Once the unit\n"
            "takes the handshake again (\"back at TIME, N s without data\"), the log goes on\n"
            "in the same file. Ctrl+C while the line is away ends with status 4."),
        true);
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Milliseconds between measurements "
                                                     "(100)."),
                                      QStringLiteral("MS"), QStringLiteral("100"));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Ends after N rows; missed replies and time "
                                                  "without the line do not count."),
                                   QStringLiteral("N"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("The CSV file; {port} stands for the port's "
                                                "name. Standard output without it, or with "
                                                "-."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption noReconnect(QStringLiteral("no-reconnect"),
                                         QStringLiteral("Ends with status 4 when the line is "
                                                        "lost, instead of waiting for it."));
    line.parser.addOptions({interval, count, csv, noReconnect});
    if (const int status = line.parse(arguments, 0, 0); status >= 0)
        return status;
    int status = 0;
    const auto ports = line.portList(&status);
    if (!ports)
        return status;
    Commands::MonitorOptions options;
    bool ok = false;
    options.intervalMs = line.parser.value(interval).toInt(&ok);
    if (!ok || options.intervalMs < 0)
        return refuse(QStringLiteral("--interval takes milliseconds"));
    if (line.parser.isSet(count)) {
        options.count = line.parser.value(count).toLongLong(&ok);
        if (!ok || options.count < 1)
            return refuse(QStringLiteral("--count takes a number from 1"));
    }
    // A log may go to a FIFO or a device: it is written as it comes, never saved over.
    const auto pattern =
        outputPattern(line.parser.value(csv), QStringLiteral("--csv"), *ports, false, &status);
    if (!pattern)
        return status;
    options.csvPattern = *pattern;
    options.reconnect = !line.parser.isSet(noReconnect);
    return Commands::monitor(*ports, options);
}

int commandDiff(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("Prints where two sets of settings differ; exit status 1 "
                                    "when they do."),
                     false);
    line.parser.addPositionalArgument(QStringLiteral("A"),
                                      QStringLiteral("A settings file, or port:NAME."));
    line.parser.addPositionalArgument(QStringLiteral("B"),
                                      QStringLiteral("A settings file, or port:NAME."));
    if (const int status = line.parse(arguments, 2, 2); status >= 0)
        return status;
    const QStringList sides = line.parser.positionalArguments();
    return Commands::diff(sides[0], sides[1]);
}

int commandSite(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("site init DIR [--name NAME] [--template FILE]: makes a site "
                                    "folder. site verify DIR: checks that its journal is as it "
                                    "was written, and names each line that is not."),
                     false);
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The site's name."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption templateFile(
        QStringLiteral("template"), QStringLiteral("A settings file the site's units are held to."),
        QStringLiteral("FILE"));
    line.parser.addOptions({name, templateFile});
    line.parser.addPositionalArgument(QStringLiteral("init|verify"), QStringLiteral("What to do."));
    line.parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The site folder."));
    if (const int status = line.parse(arguments, 2, 2); status >= 0)
        return status;
    const QString action = line.parser.positionalArguments()[0];
    const QString dir = line.parser.positionalArguments()[1];
    if (action == QLatin1String("init"))
        return Commands::siteInit(dir, line.parser.value(name), line.parser.value(templateFile));
    if (action == QLatin1String("verify"))
        return Commands::siteVerify(dir);
    return refuse(QStringLiteral("site takes init or verify, not '%1'").arg(action));
}

int commandReport(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("Writes the site's report: a table of its units, a page per "
                                    "unit with its settings and their deviations from the "
                                    "template, and its history. PDF (A4), HTML or CSV, by the "
                                    "file's extension."),
                     false);
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The report: FILE.pdf, FILE.html or FILE.csv."),
                                    QStringLiteral("FILE"));
    line.parser.addOption(output);
    line.parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The site folder."));
    if (const int status = line.parse(arguments, 1, 1); status >= 0)
        return status;
    const QString file = line.parser.value(output);
    if (!Report::knownFormat(file))
        return refuse(QStringLiteral("-o takes a file ending in .pdf, .html or .csv"));
    QString error;
    if (!Report::write(line.parser.positionalArguments().first(), file, &error))
        return refuse(QStringLiteral("cannot write the report %1: %2").arg(file, error));
    Output().note(QStringLiteral("report written to %1").arg(file));
    return Status::Done;
}

// The command the arguments name, run to its end.
int run()
{
    const std::map<QString, std::function<int(const QStringList &)>> commands{
        {QStringLiteral("ports"), commandPorts},     {QStringLiteral("info"), commandInfo},
        {QStringLiteral("read"), commandRead},       {QStringLiteral("write"), commandWrite},
        {QStringLiteral("reset"), commandReset},     {QStringLiteral("upload"), commandUpload},
        {QStringLiteral("monitor"), commandMonitor}, {QStringLiteral("diff"), commandDiff},
        {QStringLiteral("link"), commandLink},       {QStringLiteral("site"), commandSite},
        {QStringLiteral("report"), commandReport},   {QStringLiteral("doctor"), commandDoctor},
    };

    // The options before the command; the rest goes to the command's own parser.
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            say(stdout, QString::fromUtf8(Usage));
            return Status::Done;
        }
        if (argument == QLatin1String("--version")) {
            say(stdout, QStringLiteral("tarvik2-cli %1\n").arg(QStringLiteral(TARVIK2_VERSION)));
            return Status::Done;
        }
        if (argument == QLatin1String("--com-dir") && i + 1 < arguments.size()) {
            qputenv("TARVIK2_COM_DIR", QFile::encodeName(arguments[++i]));
            continue;
        }
        if (argument.startsWith(QLatin1String("--com-dir="))) {
            qputenv("TARVIK2_COM_DIR", QFile::encodeName(argument.mid(10)));
            continue;
        }
        const auto command = commands.find(argument);
        if (command == commands.end())
            return refuse(QStringLiteral("unknown command '%1'; see --help").arg(argument));
        const QStringList rest =
            QStringList{QStringLiteral("tarvik2-cli ") + argument} + arguments.mid(i + 1);
        return command->second(rest);
    }
    say(stderr, QString::fromUtf8(Usage));
    return Status::BadInput;
}

} // namespace

int main(int argc, char **argv)
{
    Output::holdStandardStreams();
    // A file size limit then fails the write that crosses it, which says so like a full disk,
    // instead of ending the tool halfway.
    std::signal(SIGXFSZ, SIG_IGN);
    // The report lays its PDF out with Qt's text engine, which needs the GUI application (on
    // the offscreen platform: no display is needed or touched). Every other command runs on
    // the core application alone.
    const bool report = std::any_of(argv + 1, argv + argc, [](const char *argument) {
        return std::strcmp(argument, "report") == 0;
    });
    std::unique_ptr<QCoreApplication> app;
    if (report) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tarvik2-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK2_VERSION));
    const int status = run();
    // Results that did not all reach standard output are a failed run, whatever else went well.
    return Output::closeResults() ? status : std::max(status, int(Status::BadInput));
}
