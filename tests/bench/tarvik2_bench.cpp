// Speed and memory figures against the unit simulator pacing at 115200 baud. Prints ratios to
// the line time; run through scripts/bench.

#include "app/tform1.h"
#include "device/commands.h"
#include "device/unitlink.h"
#include "service/trendchart.h"
#include "support/simprocess.h"
#include "support/wavfile.h"

#include <QApplication>
#include <QChartView>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr double ByteMs = 10.0 * 1000.0 / 115200.0; // one byte on the line

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void report(const char *what, double ratio, const char *target, bool ok)
{
    std::printf("%-44s ratio %.3f  (target %s)  %s\n", what, ratio, target, ok ? "ok" : "MISSED");
}

bool settingsBlockReceive()
{
    // The whole read as the program makes it: the line cleared, 'R', the block and the check
    // that nothing follows it.
    SerialChannel channel;
    if (!channel.open(4))
        return false;
    UnitLink link(channel);
    std::vector<double> times;
    std::uint8_t block[512];
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer t;
        t.start();
        const UnitLink::BlockReply reply = link.readSettings(block);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!reply.complete())
            return false;
    }
    const double ratio = median(times) / (512 * ByteMs);
    std::printf("settings block: %.1f ms for 512 bytes (line time %.1f ms)\n", median(times),
                512 * ByteMs);
    report("settings block receive / line time", ratio, "<= 1.05", ratio <= 1.05);
    return ratio <= 1.05;
}

bool connectToRead(TForm1 &form)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer t;
        t.start();
        form.Button1->click();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!form.Memo1->toPlainText().endsWith(QStringLiteral("Прочитано")))
            return false;
    }
    const double line = (1 + 1 + 1 + 512) * ByteMs; // 'U', 'W', 'R', the block
    const double ratio = median(times) / line;
    std::printf("connect to \"Прочитано\": %.1f ms (line time %.1f ms)\n", median(times), line);
    report("connect-to-read / line time", ratio, "<= 1.10", ratio <= 1.10);
    return ratio <= 1.10;
}

bool sirenUpload(TForm1 &form, int blocks)
{
    QTemporaryDir dir;
    QFile wav(dir.path() + QStringLiteral("/SIREN.wav"));
    if (!wav.open(QIODevice::WriteOnly))
        return false;
    wav.write(wavHeader(quint32(blocks) * 512));
    QByteArray data(512, 0);
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 512; ++i)
            data[i] = char((b + i) & 0xFF);
        wav.write(data);
    }
    wav.close();
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    form.Button8->click();
    const double wall = double(t.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    QDir::setCurrent(previous);
    if (!form.Memo1->toPlainText().endsWith(QStringLiteral("Запись SIREN\nУспешно")))
        return false;
    const double line = blocks * (512 + 2) * ByteMs / 1000.0;
    const double ratio = wall / line;
    std::printf("siren upload, %d blocks: %.2f s (line time %.2f s), CPU %.2f s = %.1f %%\n",
                blocks, wall, line, cpu, 100 * cpu / wall);
    report("siren upload / line time", ratio, "<= 1.03", ratio <= 1.03);
    report("siren upload CPU / wall", cpu / wall, "< 0.05", cpu / wall < 0.05);
    return ratio <= 1.03 && cpu / wall < 0.05;
}

// One tick without its exchange: the values shown, a point appended, the chart redrawn.
double tickCostMs(TForm1 &form, int ticks, int &y)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < ticks; ++i) {
        Measurement::Values v{1, 2, 3, 4, 500, std::uint16_t(2000 + (y++ % 700))};
        form.showMeasurement(v, true);
        form.Chart1->viewport()->repaint();
    }
    return double(t.nsecsElapsed()) / 1e6 / ticks;
}

bool trendCost(TForm1 &form)
{
    form.Button11->click();
    form.show();
    QCoreApplication::processEvents();
    int y = 0;
    tickCostMs(form, 10, y);
    const double early = tickCostMs(form, 200, y);
    const long rssEarly = residentKiB();
    while (form.trend().count() < 36000) {
        Measurement::Values v{1, 2, 3, 4, 500, std::uint16_t(2000 + (y++ % 700))};
        form.showMeasurement(v, true);
        if (form.trend().count() % 1000 == 0)
            QCoreApplication::processEvents();
    }
    const double late = tickCostMs(form, 200, y);
    const long rssLate = residentKiB();
    const double ratio = late / early;
    std::printf("tick without exchange: %.3f ms after %d points, %.3f ms after 36000\n", early, 10,
                late);
    report("tick cost after 36000 / after 10", ratio, "<= 1.2", ratio <= 1.2);
    const double growMiB = double(rssLate - rssEarly) / 1024.0;
    std::printf("%-44s %+.2f MiB  (target within 2 MiB)  %s\n", "resident memory 36000 vs 10",
                growMiB, growMiB <= 2.0 ? "ok" : "MISSED");
    return ratio <= 1.2 && growMiB <= 2.0;
}

// The unit's end hangs up while the window idles: the program notices it once and then
// sleeps, instead of waking for a line that has gone.
bool idleAfterLostLine(TForm1 &form, SimProcess &sim)
{
    // The event loop as the program runs it, for a while.
    auto idle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    sim.ok(QStringLiteral("hangup"));
    idle(500);
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    idle(2000);
    const double ratio = (cpuSeconds() - cpu0) / (double(t.nsecsElapsed()) / 1e9);
    const bool said =
        form.Memo1->toPlainText().endsWith(QStringLiteral("Связь с устройством потеряна"));
    std::printf("idle after the line was lost: said %s, port %s\n", said ? "once" : "not",
                form.channel().isOpen() ? "still open" : "let go");
    report("idle CPU after a lost line / wall", ratio, "< 0.01", said && ratio < 0.01);
    return said && ratio < 0.01;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int uploadBlocks = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    ComFolder folder;
    SimProcess sim(folder.path(), QStringLiteral("COM5"), {}); // paced at 115200 baud
    if (!sim.start()) {
        std::fprintf(stderr, "the unit simulator did not start\n");
        return 2;
    }
    bool ok = settingsBlockReceive();
    TForm1 form;
    ok = connectToRead(form) && ok;
    ok = sirenUpload(form, uploadBlocks) && ok;
    ok = trendCost(form) && ok;
    ok = idleAfterLostLine(form, sim) && ok;
    std::printf("%s\n", ok ? "all targets met" : "some targets missed");
    return ok ? 0 : 1;
}
