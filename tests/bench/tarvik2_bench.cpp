// Speed and memory figures against the unit simulator pacing at 115200 baud. Prints ratios to
// the line time; run through scripts/bench.

#include "app/tform1.h"
#include "serial/serialchannel.h"
#include "support/windowdriver.h"
#include "device/factoryreset.h"
#include "device/settingsread.h"
#include "device/settingswrite.h"
#include "device/protocol.h"
#include "device/unitlink.h"
#include "app/trendchart.h"
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

// The settings read as the program makes it: the quiet line, 'R', the block and the quiet line
// behind it, twice, for a block the unit confirms. Against two blocks' line time and the two
// settle windows that follow them.
bool confirmedRead(const QString &adapter)
{
    SerialChannel channel;
    if (!channel.open(4))
        return false;
    UnitLink link(channel);
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer t;
        t.start();
        const UnitLink::BlockReply reply = SettingsRead(link).run();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!reply.complete())
            return false;
    }
    const int settle = channel.adapter().settleMs;
    const double expected = 2 * (1 + 512) * ByteMs + 2 * settle;
    const double ratio = median(times) / expected;
    std::printf("[%s] confirmed settings read: %.1f ms (2 x %.1f ms line time + 2 x %d ms "
                "settle = %.1f ms)\n",
                qPrintable(adapter), median(times), (1 + 512) * ByteMs, settle, expected);
    report("confirmed read / (2 blocks + settle windows)", ratio, "<= 1.10", ratio <= 1.10);
    return ratio <= 1.10;
}

// "Читать" pressed to "Прочитано", with the program's real one-second pause.
bool readButton(TForm1 &form, const QString &adapter)
{
    const int settle = form.channel().adapter().settleMs;
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        press(form.Button5);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!form.Memo1->toPlainText().endsWith(QStringLiteral("Прочитано")))
            return false;
    }
    const double expected = 1000 + 2 * (1 + 512) * ByteMs + 2 * settle;
    const double ratio = median(times) / expected;
    std::printf("[%s] \"Читать\" to \"Прочитано\": %.1f ms (1 s + %.1f ms)\n", qPrintable(adapter),
                median(times), expected - 1000);
    report("read button / (1 s + confirmed read)", ratio, "<= 1.05", ratio <= 1.05);
    return ratio <= 1.05;
}

// Against the line time and the settle windows: before 'U' (the port just opened), before the
// first 'R' (the 'W' just came) and behind each block. Behind an adapter with a long latency
// timer every reply also waits for the timer, so the figure is only reported there.
bool connectToRead(TForm1 &form, const QString &adapter, bool judged)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer t;
        t.start();
        press(form.Button1);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!form.Memo1->toPlainText().endsWith(QStringLiteral("Прочитано")))
            return false;
    }
    const int settle = form.channel().adapter().settleMs;
    const double line = 2 * ByteMs + 2 * (1 + 512) * ByteMs + 4 * settle;
    const double ratio = median(times) / line;
    std::printf("[%s] connect to \"Прочитано\": %.1f ms (line time and 4 x %d ms settle: %.1f "
                "ms)\n",
                qPrintable(adapter), median(times), settle, line);
    if (!judged) {
        std::printf("%-44s ratio %.3f  (reported)\n", "connect-to-read / line time", ratio);
        return true;
    }
    report("connect-to-read / line time", ratio, "<= 1.10", ratio <= 1.10);
    return ratio <= 1.10;
}

// target <= 0: the figure is reported, not judged.
bool sirenUpload(TForm1 &form, int blocks, const QString &adapter, double target)
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
    press(form.Button8);
    const double wall = double(t.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    QDir::setCurrent(previous);
    if (!form.Memo1->toPlainText().endsWith(QStringLiteral("Запись SIREN\nУспешно")))
        return false;
    const double line = blocks * (512 + 2) * ByteMs / 1000.0;
    const double ratio = wall / line;
    std::printf("[%s] siren upload, %d blocks: %.2f s (line time %.2f s), CPU %.2f s = %.1f %%\n",
                qPrintable(adapter), blocks, wall, line, cpu, 100 * cpu / wall);
    const bool fast = target <= 0 || ratio <= target;
    if (target > 0)
        report("siren upload / line time", ratio, qPrintable(QString("<= %1").arg(target)), fast);
    else
        std::printf("%-44s ratio %.3f  (reported: stop-and-wait pays the timer on each block)\n",
                    "siren upload / line time", ratio);
    report("siren upload CPU / wall", cpu / wall, "< 0.05", cpu / wall < 0.05);
    return fast && cpu / wall < 0.05;
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
    press(form.Button11);
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

// The unit simulator paced at 115200 baud behind one adapter profile, described to the program
// in a system tree of its own.
struct BenchLine {
    explicit BenchLine(const QString &adapter)
        : sim(folder.path(), QStringLiteral("COM5"),
              {QStringLiteral("--adapter"), adapter, QStringLiteral("--sys-root"), sys.path()})
    {
        qputenv("TARVIK2_SYS_ROOT", QFile::encodeName(sys.path()));
    }
    ~BenchLine() { qunsetenv("TARVIK2_SYS_ROOT"); }
    QTemporaryDir sys;
    ComFolder folder;
    SimProcess sim;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int uploadBlocks = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    bool ok = true;
    struct Profile {
        const char *name;
        int blocks;    // of the siren upload
        double target; // of the upload's ratio; 0: reported only
    };
    const Profile profiles[] = {
        {"none", uploadBlocks, 1.03}, {"ftdi1", 200, 1.05}, {"ftdi16", 100, 0}};
    for (const Profile &profile : profiles) {
        const QString adapter = QLatin1String(profile.name);
        BenchLine line(adapter);
        if (!line.sim.start()) {
            std::fprintf(stderr, "the unit simulator did not start\n");
            return 2;
        }
        if (adapter != QLatin1String("ftdi16"))
            ok = confirmedRead(adapter) && ok;
        TForm1 form;
        ok = connectToRead(form, adapter, adapter != QLatin1String("ftdi16")) && ok;
        if (adapter != QLatin1String("ftdi16"))
            ok = readButton(form, adapter) && ok;
        ok = sirenUpload(form, profile.blocks, adapter, profile.target) && ok;
        if (adapter == QLatin1String("none")) {
            ok = trendCost(form) && ok;
            ok = idleAfterLostLine(form, line.sim) && ok;
        }
    }
    std::printf("%s\n", ok ? "all targets met" : "some targets missed");
    return ok ? 0 : 1;
}
