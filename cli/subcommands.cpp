#include "cli/subcommands.h"

#include "cli/files.h"
#include "cli/interrupts.h"
#include "cli/journal.h"
#include "cli/portcommands.h"
#include "cli/runner.h"
#include "cli/status.h"
#include "device/factoryreset.h"
#include "device/settingsread.h"
#include "device/settingsverify.h"
#include "device/settingswrite.h"
#include "serial/knownadapter.h"
#include "service/measurement.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <csignal>

namespace Commands {

namespace {

using SettingsBlock::Block;
using SettingsLayout::FieldId;

QString deviceTypeName(int code)
{
    const std::optional<SettingsBlock::DeviceType> type = SettingsBlock::deviceType(code);
    if (!type)
        return QStringLiteral("unknown");
    switch (*type) {
    case SettingsBlock::DeviceType::Announcer:
        return QStringLiteral("TARVIK2");
    case SettingsBlock::DeviceType::Console:
        return QStringLiteral("console");
    case SettingsBlock::DeviceType::InputModule:
        return QStringLiteral("input module");
    }
    return QStringLiteral("unknown");
}

// What the plan refuses, in the tool's words, or nothing when it may be sent.
std::optional<QString> refusalText(const WritePlan::Plan &plan)
{
    if (plan.foreignType)
        return QStringLiteral("the file was read from device type %1, this unit is type %2; "
                              "--force writes it all the same. Nothing was sent")
            .arg(plan.foreignType->block)
            .arg(plan.foreignType->unit);
    if (plan.refusals.empty())
        return std::nullopt;
    const WritePlan::Refusal &first = plan.refusals.front();
    return QStringLiteral("%1: %2 is outside the allowed %3-%4. Nothing was sent")
        .arg(QLatin1String(first.field->key))
        .arg(first.value)
        .arg(first.field->min)
        .arg(first.field->max);
}

bool saveFile(const QString &name, const QByteArray &contents, const Output &out)
{
    QString error;
    if (Files::saveWhole(name, contents, &error))
        return true;
    out.note(QStringLiteral("cannot write %1: %2").arg(name, error));
    return false;
}

// The unit's pause after a write, in which nothing is sent to it, watching the line: false as
// soon as the line is lost, so that the loss is said when it happened rather than at the
// read-back.
bool pauseWatchingLine(Session &session)
{
    constexpr int SliceMs = 100;
    const Clock &clock = session.clock();
    const qint64 end = clock.now() + SettingsWrite::PauseMs;
    for (;;) {
        if (!session.link().line().lineUp())
            return false;
        const qint64 left = end - clock.now();
        if (left <= 0)
            return true;
        clock.sleep(int(std::min<qint64>(left, SliceMs)));
    }
}

// A port's job that keeps its record in the site: the record is begun before the job runs and
// appended, with the job's status, once it has ended, whatever it came to.
using RecordedJob = std::function<int(Session &, const Output &, SiteRecord &)>;
PortJob recorded(const SiteContext *site, const QString &operation, RecordedJob job)
{
    return [site, operation, job = std::move(job)](Session &session, const Output &out) {
        SiteRecord record(site, session, operation);
        return record.finish(job(session, out, record), out);
    };
}

} // namespace

int info(const QList<Port> &ports, const SiteContext *site)
{
    const auto job = [](Session &session, const Output &out, SiteRecord &record) {
        Block block;
        if (const int status = session.connectAndRead(block))
            return status;
        record.unit(block);
        record.settings(block);
        const int type =
            SettingsBlock::value(SettingsLayout::field(FieldId::DeviceType), block.data());
        out.result(QStringLiteral("device_type: %1 (%2)").arg(type).arg(deviceTypeName(type)));
        for (const FieldId id :
             {FieldId::SoftwareVersion, FieldId::NetworkAddress, FieldId::AlertZone}) {
            const SettingsLayout::Field &field = SettingsLayout::field(id);
            out.result(QStringLiteral("%1: %2")
                           .arg(QLatin1String(field.key))
                           .arg(SettingsBlock::value(field, block.data())));
        }
        out.result(QStringLiteral("line: ") + adapterText(session.link().line().adapter()));
        return Status::Done;
    };
    return runOnPorts(ports, recorded(site, QStringLiteral("info"), job));
}

int read(const QList<Port> &ports, const QString &outPattern, const SiteContext *site)
{
    const auto job = [&outPattern](Session &session, const Output &out, SiteRecord &record) {
        Block block;
        if (const int status = session.connectAndRead(block))
            return status;
        record.unit(block);
        record.settings(block);
        const QByteArray json = SettingsFile::write(block, session.port().name, isoNow());
        if (outPattern.isEmpty()) {
            for (const QByteArray &line : json.trimmed().split('\n')) {
                if (!out.result(QString::fromUtf8(line)))
                    return Status::BadInput;
            }
            return Status::Done;
        }
        const QString name = portFileName(outPattern, session.port());
        if (!saveFile(name, json, out))
            return Status::BadInput;
        record.set(QStringLiteral("file"), name);
        out.note(QStringLiteral("settings saved to %1").arg(name));
        return Status::Done;
    };
    return runOnPorts(ports, recorded(site, QStringLiteral("read"), job));
}

int write(const QList<Port> &ports, const WriteOptions &options, const SiteContext *site)
{
    Interrupts::install();
    const auto job = [&options](Session &session, const Output &out, SiteRecord &record) {
        Block unit;
        if (const int status = session.connectAndRead(unit))
            return status;
        record.unit(unit);

        WritePlan::Request request{options.wanted, std::nullopt, options.force};
        if (options.whole)
            request.whole = options.file.block;
        const WritePlan::Plan plan = WritePlan::plan(unit, request);
        if (const std::optional<QString> refusal = refusalText(plan)) {
            out.note(*refusal);
            return Status::BadInput;
        }
        const Block &outgoing = plan.outgoing;
        const std::vector<QString> changes =
            SettingsFile::differenceLines(plan.differences, unit.data(), outgoing.data());
        for (const QString &line : changes)
            out.result(line);
        if (options.dryRun) {
            out.note(changes.empty() ? QStringLiteral("nothing would change; nothing was sent")
                                     : QStringLiteral("dry run: nothing was sent"));
            record.set(QStringLiteral("dry_run"), true);
            return Status::Done;
        }
        record.changes(unit, outgoing);
        if (!record.backUp(unit, out))
            return Status::BadInput;

        const QString held = QStringLiteral("interrupted: the block was sent and not verified");
        Interrupts::Block guard(
            out, held,
            options.verify ? QStringLiteral("interrupted: the unit is storing the block; the "
                                            "tool ends after its pause, or at once at a "
                                            "second Ctrl+C")
                           : QString());
        if (!guard.begin()) {
            out.note(QStringLiteral("interrupted: nothing was sent"));
            return Interrupts::status();
        }
        out.note(options.verify ? QStringLiteral("writing; the read-back follows in %1 s")
                                      .arg(SettingsWrite::PauseMs / 1000)
                                : QStringLiteral("writing"));
        SettingsWrite write(session.link(), session.clock());
        if (!write.send(outgoing)) {
            guard.done(QStringLiteral("the port did not take the settings; the line is lost"));
            return Status::NoAnswer;
        }
        guard.sent();
        if (!options.verify) {
            guard.done();
            record.verify(QStringLiteral("not verified"));
            out.result(QStringLiteral("written, not verified"));
            return Status::Done;
        }
        if (!pauseWatchingLine(session)) {
            guard.done(QStringLiteral("the line was lost after the block was sent, before the "
                                      "read-back: the unit may hold only part of it"));
            return Status::NoAnswer;
        }
        if (Interrupts::requested()) {
            guard.done(held);
            return Interrupts::status();
        }
        const UnitLink::BlockReply readBack = SettingsRead(session.link()).run();
        guard.done();
        const VerifiedWrite::Result result = VerifiedWrite::judge(outgoing, readBack);
        switch (result.outcome) {
        case VerifiedWrite::Outcome::NoReadBack:
            record.verify(QStringLiteral("no read-back"));
            return session.incomplete(result.readBack, QStringLiteral("read-back"));
        case VerifiedWrite::Outcome::Differs:
            record.verify(QStringLiteral("differs"));
            record.settings(result.back);
            out.note(QStringLiteral("the read-back differs from what was written:"));
            for (const QString &line : SettingsFile::differenceLines(
                     result.differences, result.sent.data(), result.back.data(),
                     QStringLiteral(" written, read back ")))
                out.note(QStringLiteral("  ") + line);
            return Status::Mismatch;
        case VerifiedWrite::Outcome::Verified:
            break;
        }
        record.verify(QStringLiteral("verified"));
        record.settings(result.back);
        out.result(QStringLiteral("written and verified"));
        return Status::Done;
    };
    const int worst = runOnPorts(ports, recorded(site, QStringLiteral("write"), job));
    // An interrupted run ends with the signal's status, whatever the ports came to.
    return Interrupts::requested() ? std::max(worst, Interrupts::status()) : worst;
}

int reset(const QList<Port> &ports, const SiteContext *site)
{
    Interrupts::install();
    const auto job = [](Session &session, const Output &out, SiteRecord &record) {
        Block unit;
        // The bytes past the factory values go back as the unit holds them, so they are read
        // first; a block that does not come whole is never written.
        if (const int status = session.connectAndRead(unit))
            return status;
        record.unit(unit);
        if (!record.backUp(unit, out))
            return Status::BadInput;
        const QString held =
            QStringLiteral("interrupted: the factory settings were sent and not checked");
        Interrupts::Block guard(out, held);
        if (!guard.begin()) {
            out.note(QStringLiteral("interrupted: nothing was sent"));
            return Interrupts::status();
        }
        FactoryReset reset(session.link());
        if (!reset.send()) {
            guard.done(
                QStringLiteral("the port did not take the factory settings; the line is lost"));
            return Status::NoAnswer;
        }
        guard.sent();
        if (Interrupts::requested()) {
            guard.done(held);
            return Interrupts::status();
        }
        const int differences = reset.check();
        guard.done();
        if (reset.readBack().complete()) {
            if (const std::optional<Block> after = reset.readBack().block()) {
                record.changes(unit, *after);
                record.settings(*after);
            }
        }
        record.verify(differences == 0              ? QStringLiteral("verified")
                      : reset.readBack().complete() ? QStringLiteral("differs")
                                                    : QStringLiteral("no read-back"));
        if (differences == 0) {
            out.result(QStringLiteral("factory settings written and checked"));
            return Status::Done;
        }
        // No answer, or a short or garbled one, says nothing about what the unit holds.
        if (!reset.readBack().complete())
            return session.incomplete(reset.readBack(), QStringLiteral("factory-reset check"));
        out.note(QStringLiteral("factory-reset check failed: %1 of %2 bytes differ")
                     .arg(differences)
                     .arg(SettingsBlock::Size));
        return Status::Mismatch;
    };
    const int worst = runOnPorts(ports, recorded(site, QStringLiteral("reset"), job));
    // An interrupted run ends with the signal's status, whatever the ports came to.
    return Interrupts::requested() ? std::max(worst, Interrupts::status()) : worst;
}

namespace {

// Upload progress: a bar with blocks, rate and time left on a terminal, a line every 10 %
// otherwise.
class UploadProgress {
public:
    UploadProgress(const Output &out, const UploadOptions &options, bool bar)
        : m_out(out), m_options(options), m_bar(bar)
    {
        for (const std::uint32_t blocks : options.sounds.blocks)
            m_total += blocks;
    }

    int status() const { return m_status; }

    void report(const SoundUpload::Event &event)
    {
        using Kind = SoundUpload::Event::Kind;
        const QString file = m_options.files.value(event.slot);
        switch (event.kind) {
        case Kind::Accepted:
            m_clock.start();
            break;
        case Kind::Sending:
            m_before = m_done;
            break;
        case Kind::BlockDone:
            m_done = m_before + event.blocks;
            show();
            break;
        case Kind::Sent:
            m_out.endProgress();
            m_out.result(QStringLiteral("%1: %2 blocks sent").arg(file).arg(event.blocks));
            break;
        case Kind::NoAnswer:
            m_status = Status::NoAnswer;
            m_out.note(QStringLiteral("the unit stopped answering after %1 of %2 blocks")
                           .arg(m_done)
                           .arg(m_total));
            break;
        case Kind::LineLost:
            m_status = Status::NoAnswer;
            m_out.note(
                QStringLiteral("the line was lost after %1 of %2 blocks").arg(m_done).arg(m_total));
            break;
        case Kind::Opening: // the files were read before any port was opened
        case Kind::Refused:
        case Kind::Connecting:
            break;
        }
    }

private:
    void show()
    {
        const int percent = m_total ? int(100 * m_done / m_total) : 100;
        if (!m_bar) {
            if (percent / 10 > m_decile) {
                m_decile = percent / 10;
                m_out.note(QStringLiteral("upload %1% (%2 of %3 blocks)")
                               .arg(m_decile * 10)
                               .arg(m_done)
                               .arg(m_total));
            }
            return;
        }
        if (m_shown.isValid() && m_shown.elapsed() < 200 && m_done < m_total)
            return;
        m_shown.start();
        constexpr int Width = 30;
        const int filled = int(Width * m_done / std::max<std::uint32_t>(m_total, 1));
        const double seconds = std::max<qint64>(m_clock.elapsed(), 1) / 1000.0;
        const double rate = m_done * double(SoundBlockSize) / 1024.0 / seconds;
        const qint64 left = m_done ? qint64(seconds * (m_total - m_done) / m_done) : 0;
        m_out.progress(
            QStringLiteral("[%1%2] %3% %4/%5 blocks %6 KiB/s %7:%8 left")
                .arg(QString(filled, QLatin1Char('#')), QString(Width - filled, QLatin1Char('-')))
                .arg(percent, 3)
                .arg(m_done)
                .arg(m_total)
                .arg(rate, 0, 'f', 1)
                .arg(left / 60)
                .arg(left % 60, 2, 10, QLatin1Char('0')));
    }

    const Output &m_out;
    const UploadOptions &m_options;
    bool m_bar;
    int m_status = Status::Done;
    std::uint32_t m_total = 0;
    std::uint32_t m_done = 0;
    std::uint32_t m_before = 0;
    int m_decile = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_shown;
};

} // namespace

int upload(const QList<Port> &ports, const UploadOptions &options, const SiteContext *site)
{
    const bool bar = ports.size() == 1 && Output::errorIsTerminal();
    QJsonArray files;
    for (int slot = 0; slot < SoundUpload::fileCount(options.sounds.set); ++slot)
        files.append(QJsonObject{
            {QStringLiteral("file"), options.files.value(slot)},
            {QStringLiteral("sha256"),
             QString::fromLatin1(QCryptographicHash::hash(options.sounds.data[std::size_t(slot)],
                                                          QCryptographicHash::Sha256)
                                     .toHex())},
            {QStringLiteral("blocks"), qint64(options.sounds.blocks[std::size_t(slot)])},
        });
    const auto job = [&options, bar, site, &files](Session &session, const Output &out,
                                                   SiteRecord &record) {
        if (site) {
            // The unit's settings go into the site before anything is sent, as for any change.
            Block unit;
            if (const int status = session.connectAndRead(unit))
                return status;
            record.unit(unit);
            record.settings(unit);
            if (!record.backUp(unit, out))
                return Status::BadInput;
        } else if (const int status = session.connect()) {
            return status;
        }
        record.set(QStringLiteral("upload"), files);
        UploadProgress progress(out, options, bar);
        SoundUpload::View view{
            [&progress](const SoundUpload::Event &event) { progress.report(event); }, [](int) {}};
        SoundUpload upload(session.link(), session.clock(), view);
        if (!upload.send(options.sounds))
            return progress.status() ? progress.status() : Status::NoAnswer;
        return Status::Done;
    };
    return runOnPorts(ports, recorded(site, QStringLiteral("upload"), job));
}

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted = true; }

// Sleeps until `timer` reaches `due` ms, in slices short enough for a signal to end the sleep
// at once; false when one did.
bool sleepUntil(const QElapsedTimer &timer, qint64 due)
{
    while (!g_interrupted && timer.elapsed() < due)
        QThread::msleep(ulong(std::min<qint64>(due - timer.elapsed(), 50)));
    return !g_interrupted;
}

// Waits until the lost line's adapter is back and its unit has taken the handshake; false when
// a signal ended the wait first. Between tries only the system's account is looked at, so a
// device that is not the adapter is never opened, and an adapter long away costs nothing.
bool awaitAdapter(Session &session, const KnownAdapter &adapter, const Output &out)
{
    constexpr int LookMs = 200;
    bool unansweredSaid = false;
    while (!g_interrupted) {
        switch (session.reconnect(adapter)) {
        case Session::Rejoin::Connected:
            return true;
        case Session::Rejoin::Unanswered:
            if (!unansweredSaid)
                out.note(QStringLiteral("the adapter is back, but no unit answered the "
                                        "handshake; waiting"));
            unansweredSaid = true;
            break;
        case Session::Rejoin::Away:
            unansweredSaid = false;
            break;
        }
        QElapsedTimer pause;
        pause.start();
        sleepUntil(pause, LookMs);
    }
    return false;
}

} // namespace

int monitor(const QList<Port> &ports, const MonitorOptions &options)
{
    g_interrupted = false;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    return runOnPorts(ports, [&options](Session &session, const Output &out) {
        if (const int status = session.connect())
            return status;
        // Learnt while the adapter is surely the one the unit answers on.
        const KnownAdapter adapter(session.devicePath(), session.port().index >= 0);
        const bool toFile = !options.csvPattern.isEmpty();
        const QString name = toFile ? portFileName(options.csvPattern, session.port()) : QString();
        Files::Log file;
        QString error;
        if (toFile && !file.open(name, &error)) {
            out.note(QStringLiteral("cannot write %1: %2").arg(name, error));
            return Status::BadInput;
        }
        // The log ends at the first row that could not be stored.
        const auto row = [&](const QString &line) {
            if (!toFile)
                return out.result(line);
            if (file.append(line.toUtf8() + '\n', &error))
                return true;
            out.note(QStringLiteral("cannot write %1: %2").arg(name, error));
            return false;
        };
        qint64 rows = 0;
        qint64 missed = 0;
        // A measurement is due every interval from the schedule's start; a line that comes
        // back starts it again rather than make up for the gap all at once.
        QElapsedTimer schedule;
        qint64 due = 0;
        QElapsedTimer sinceData; // since the last row, or since the line came up
        schedule.start();
        sinceData.start();
        int status = row(QStringLiteral("time,ppk1,ppk2,gochs,adc,light,power")) ? Status::Done
                                                                                 : Status::BadInput;
        // A signal ends the log before the next measurement, with the status it has come to.
        while (status == Status::Done && (options.count == 0 || rows < options.count) &&
               sleepUntil(schedule, due)) {
            due += options.intervalMs;
            const QString time = isoNow(true);
            if (const auto values = Measurement::exchange(session.link())) {
                QString line = time;
                for (const std::uint16_t value : *values)
                    line += QLatin1Char(',') + QString::number(value);
                if (!row(line)) {
                    status = Status::BadInput;
                    break;
                }
                ++rows;
                sinceData.restart();
                continue;
            }
            if (!session.lineLost()) {
                ++missed;
                out.note(
                    QStringLiteral("no complete measurement reply (%1 missed so far)").arg(missed));
                continue;
            }
            // The node is let go before the loss is said, so that the system may give it to
            // the adapter when it comes back, or to whatever comes meanwhile.
            session.letGo();
            out.note(QStringLiteral("line lost at %1").arg(isoNow(true)));
            // A signal while the line is away ends a log with a gap at its end.
            if (!options.reconnect || !awaitAdapter(session, adapter, out)) {
                status = Status::NoAnswer;
                break;
            }
            out.note(QStringLiteral("back at %1, %2 s without data")
                         .arg(isoNow(true))
                         .arg(qRound64(double(sinceData.elapsed()) / 1000.0)));
            schedule.restart();
            due = 0;
        }
        if (toFile && !file.close(&error) && status != Status::BadInput) {
            out.note(QStringLiteral("cannot write %1: %2").arg(name, error));
            status = Status::BadInput;
        }
        out.note(QStringLiteral("%1 rows, %2 replies missed").arg(rows).arg(missed));
        if (status == Status::Done && rows == 0 && missed > 0)
            status = Status::NoAnswer;
        return status;
    });
}

namespace {

// One side of a diff as a block: a file's block with its fields laid over, or a unit's.
int diffSide(const QString &side, Block &block)
{
    const Output out;
    if (side.startsWith(QLatin1String("port:"))) {
        QString error;
        const auto ports = parsePorts(side.mid(5), &error);
        if (!ports || ports->size() != 1) {
            out.note(error.isEmpty() ? QStringLiteral("%1: name one port").arg(side) : error);
            return Status::BadInput;
        }
        return runOnPort(
            ports->first(), Output(ports->first().name + QStringLiteral(": ")),
            [&block](Session &session, const Output &) { return session.connectAndRead(block); });
    }
    QString error;
    const std::optional<QByteArray> text = Files::readSmall(side, &error);
    if (!text) {
        out.note(QStringLiteral("cannot read %1: %2").arg(side, error));
        return Status::BadInput;
    }
    const auto contents = SettingsFile::parse(*text, &error);
    if (!contents) {
        out.note(QStringLiteral("%1: %2").arg(side, error));
        return Status::BadInput;
    }
    block = contents->block;
    WritePlan::layOver(block, contents->fields);
    return Status::Done;
}

} // namespace

int diff(const QString &a, const QString &b)
{
    Block first;
    Block second;
    // Files are checked before any port is opened.
    const bool firstIsPort = a.startsWith(QLatin1String("port:"));
    if (const int status = diffSide(firstIsPort ? b : a, firstIsPort ? second : first))
        return status;
    if (const int status = diffSide(firstIsPort ? a : b, firstIsPort ? first : second))
        return status;
    const std::vector<QString> lines = SettingsFile::differenceLines(first.data(), second.data());
    const Output out;
    for (const QString &line : lines)
        out.result(line);
    return lines.empty() ? Status::Done : Status::Different;
}

int siteInit(const QString &dir, const QString &name, const QString &templateFile)
{
    QString error;
    if (!Site::init(dir, name, templateFile, &error))
        return refuse(error);
    Output().note(QStringLiteral("site folder %1 made").arg(dir));
    return Status::Done;
}

int siteVerify(const QString &dir)
{
    const Output out;
    bool readable = false;
    QString error;
    const QList<Journal::Problem> problems = Journal::verify(dir, &readable, &error);
    if (!readable) {
        out.note(QStringLiteral("cannot read the journal of %1: %2").arg(dir, error));
        return Status::BadInput;
    }
    for (const Journal::Problem &problem : problems)
        out.result(QStringLiteral("%1/journal.jsonl: %2").arg(dir, problem.what));
    if (!problems.isEmpty())
        return Status::Different;
    out.result(QStringLiteral("the journal's chain holds"));
    return Status::Done;
}

} // namespace Commands
