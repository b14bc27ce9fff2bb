// tarvik2-cli's figures against unit simulators pacing at 115200 baud: a read against process
// start and line time, a write on eight units against the same write on one, and the tool's
// peak CPU. Run through scripts/bench.

#include "serial/adapter.h"
#include "support/simprocess.h"
#include "support/wavfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#ifndef TARVIK2_CLI_PATH
#error "TARVIK2_CLI_PATH must name the tarvik2-cli binary"
#endif

namespace {

constexpr double ByteMs = 10.0 * 1000.0 / 115200.0;
constexpr int Units = 8;
constexpr int CpuWindowMs = 500;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The tool's user and system time so far, in seconds.
double cpuOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

struct Timed {
    double ms = 0;
    int status = -1;
    double peakCpu = 0; // share of one core over the busiest window
};

Timed runTool(const QStringList &arguments, bool sampleCpu = false)
{
    QProcess process;
    QElapsedTimer wall;
    wall.start();
    process.start(QStringLiteral(TARVIK2_CLI_PATH), arguments);
    Timed timed;
    if (!process.waitForStarted())
        return timed;
    const qint64 pid = process.processId();
    double lastCpu = 0;
    qint64 lastAt = 0;
    while (!process.waitForFinished(sampleCpu ? CpuWindowMs : 60000)) {
        if (process.state() == QProcess::NotRunning)
            break;
        const double cpu = cpuOf(pid);
        const qint64 at = wall.elapsed();
        if (cpu >= 0 && at > lastAt)
            timed.peakCpu = std::max(timed.peakCpu, (cpu - lastCpu) * 1000.0 / double(at - lastAt));
        lastCpu = std::max(cpu, lastCpu);
        lastAt = at;
    }
    timed.ms = double(wall.nsecsElapsed()) / 1e6;
    timed.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return timed;
}

bool report(const char *what, double ratio, const char *target, bool ok)
{
    std::printf("%-44s ratio %.3f  (target %s)  %s\n", what, ratio, target, ok ? "ok" : "MISSED");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ComFolder folder;
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList names;
    for (int n = 0; n < Units; ++n) {
        names << QStringLiteral("COM%1").arg(5 + n);
        sims.push_back(std::make_unique<SimProcess>(folder.path(), names.last(), QStringList{}));
        if (!sims.back()->start()) {
            std::fprintf(stderr, "the unit simulator did not start\n");
            return 2;
        }
    }
    QTemporaryDir work;
    const QString file = work.filePath(QStringLiteral("unit.json"));

    // Process start: the tool doing nothing but starting and ending.
    std::vector<double> starts;
    std::vector<double> reads;
    for (int i = 0; i < 15; ++i) {
        starts.push_back(runTool({QStringLiteral("--version")}).ms);
        const Timed read = runTool({QStringLiteral("read"), QStringLiteral("-p"),
                                    QStringLiteral("COM5"), QStringLiteral("-o"), file});
        if (read.status != 0) {
            std::fprintf(stderr, "read failed with status %d\n", read.status);
            return 2;
        }
        reads.push_back(read.ms);
    }
    // 'U', 'W', then 'R' and the block twice to confirm it, with the line's settle window
    // before 'U', before the first 'R' and behind each block.
    const int settle = Adapter::lookup(sims.front()->slavePath()).settleMs;
    const double line = (2 + 2 * (1 + 512)) * ByteMs + 4 * settle;
    const double start = median(starts);
    const double read = median(reads);
    std::printf("read: %.1f ms; process start %.1f ms + line time %.1f ms\n", read, start, line);
    bool ok = report("read on one unit / (start + line time)", read / (start + line), "<= 1.10",
                     read <= 1.10 * (start + line));

    // The unit's real 10 s pause is in both.
    const QStringList write{QStringLiteral("write"), QStringLiteral("-p")};
    const Timed one = runTool(write + QStringList{names.first(), file}, true);
    const Timed all = runTool(write + QStringList{names.join(QLatin1Char(',')), file}, true);
    if (one.status != 0 || all.status != 0) {
        std::fprintf(stderr, "write failed with status %d / %d\n", one.status, all.status);
        return 2;
    }
    std::printf("write: %.0f ms on one unit, %.0f ms on %d at once\n", one.ms, all.ms, Units);
    ok = report("write on 8 units / on one", all.ms / one.ms, "<= 1.05", all.ms <= 1.05 * one.ms) &&
         ok;

    // A siren upload of 100 blocks at line rate, for the CPU figure of a long exchange.
    const QString siren = work.filePath(QStringLiteral("SIREN.wav"));
    QFile wav(siren);
    if (!wav.open(QIODevice::WriteOnly) ||
        wav.write(wavHeader(100 * 512) + QByteArray(100 * 512, '\x11')) != 44 + 100 * 512)
        return 2;
    wav.close();
    const Timed upload = runTool({QStringLiteral("upload"), QStringLiteral("-p"),
                                  QStringLiteral("COM5"), QStringLiteral("--siren"), siren},
                                 true);
    if (upload.status != 0) {
        std::fprintf(stderr, "upload failed with status %d\n", upload.status);
        return 2;
    }
    const double peak = std::max({one.peakCpu, all.peakCpu, upload.peakCpu});
    std::printf("peak CPU over %d ms windows: write one %.1f %%, write 8 %.1f %%, upload %.1f %%\n",
                CpuWindowMs, 100 * one.peakCpu, 100 * all.peakCpu, 100 * upload.peakCpu);
    ok = report("peak CPU of the tool, share of one core", peak, "<= 0.10", peak <= 0.10) && ok;
    std::printf("%s\n", ok ? "all targets met" : "some targets missed");
    return ok ? 0 : 1;
}
