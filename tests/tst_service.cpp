// The service panel: the six live measurements and the trend chart, driven through the real
// main window against the unit simulator in the test's own process.

#include "app/tform1.h"
#include "app/trendchart.h"
#include "support/connectedwindow.h"
#include "support/windowdriver.h"
#include "support/windowlog.h"

#include <QChartView>
#include <QImage>
#include <QLineSeries>
#include <QTest>
#include <QTimer>
#include <array>
#include <memory>

namespace {

using Six = std::array<int, 6>; // ППК1, ППК2, ГОиЧС, ADC, LIGHT, POWER

constexpr int PowerItem = 0;
constexpr int LightItem = 1;
constexpr int Page = 400;
const QColor Green(0, 128, 0);

// The chart point a measurement value becomes: value x 0.1 in single precision.
double pointY(int value) { return double(float(value) * 0.1f); }

QByteArray bigEndian(const Six &values)
{
    QByteArray out;
    for (int v : values) {
        out.append(char(v >> 8));
        out.append(char(v & 0xFF));
    }
    return out;
}

// The main window connected to the simulated unit, with the service panel's helpers.
struct Bench : ConnectedWindow {
    void measure(const Six &v)
    {
        sim.ok(QStringLiteral("measure %1 %2 %3 %4 %5 %6")
                   .arg(v[0])
                   .arg(v[1])
                   .arg(v[2])
                   .arg(v[3])
                   .arg(v[4])
                   .arg(v[5]));
    }

    QStringList shown() const { return measuredTexts(*form); }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick(*form);
    }

    QByteArray heldBlockHead()
    {
        return QByteArray(reinterpret_cast<const char *>(form->unit().transferBlock()), 12);
    }
};

QStringList texts(const Six &values)
{
    QStringList out;
    for (int v : values)
        out << QString::number(v);
    return out;
}

bool nearGreen(QRgb p)
{
    return qRed(p) <= 60 && qGreen(p) >= 90 && qGreen(p) <= 170 && qBlue(p) <= 60;
}

bool pureRed(QRgb p) { return qRed(p) >= 230 && qGreen(p) <= 30 && qBlue(p) <= 30; }

// Empty when the points are exactly those expected (no fuzz: Y must be the single-precision
// product), otherwise what differs.
QString pointsDiffer(const QList<QPointF> &got, const QList<QPointF> &want)
{
    auto list = [](const QList<QPointF> &points) {
        QStringList out;
        for (const QPointF &p : points)
            out << QStringLiteral("(%1, %2)").arg(p.x(), 0, 'g', 17).arg(p.y(), 0, 'g', 17);
        return out.join(QLatin1Char(' '));
    };
    bool same = got.size() == want.size();
    for (qsizetype i = 0; same && i < got.size(); ++i)
        same = got[i].x() == want[i].x() && got[i].y() == want[i].y();
    return same ? QString() : QStringLiteral("got %1\nwant %2").arg(list(got), list(want));
}

#define VERIFY_POINTS(series, ...)                                                                 \
    do {                                                                                           \
        const QString differ = pointsDiffer((series)->points(), QList<QPointF>{__VA_ARGS__});      \
        QVERIFY2(differ.isEmpty(), qPrintable(differ));                                            \
    } while (false)

} // namespace

Q_DECLARE_METATYPE(Six)

class TestService : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // One exchange: what goes out, what is shown, what is charted.
    void valuesShownAndCharted_data();
    void valuesShownAndCharted();
    void oneRequestByteOnTheWire();
    void noSelectionShowsValuesButNoPoint();
    void switchingValueContinuesSeries();

    // The chart's page on its own, then through the window.
    void pageFillsThenStays();
    void resetStartsAgainAtZero();
    void traceDrawnInPointColour();

    // Polling on the real timer.
    void onceWhilePollingAddsNoPoint();
    void panelOpenCloseWhilePolling();

    // A unit that does not answer in full.
    void incompleteReplyChangesNothing_data();
    void incompleteReplyChangesNothing();
    void noPortChangesNothing();

    // Measurements and the settings block held for the next write.
    void measurementKeepsHeldSettings();

private:
    std::unique_ptr<Bench> m_bench;
    Bench &bench() { return *m_bench; }
};

void TestService::init()
{
    m_bench = std::make_unique<Bench>();
    QVERIFY(m_bench->connect());
}

void TestService::cleanup() { m_bench.reset(); }

void TestService::valuesShownAndCharted_data()
{
    QTest::addColumn<Six>("values");
    QTest::newRow("POWER 0x012C") << Six{1, 2, 3, 4, 5, 300};
    QTest::newRow("all 0xFFFF") << Six{65535, 65535, 65535, 65535, 65535, 65535};
    QTest::newRow("high bit and byte edges") << Six{0x8000, 0x00FF, 0x0100, 0x7FFF, 4095, 0};
    QTest::newRow("all zero") << Six{0, 0, 0, 0, 0, 0};
    QTest::newRow("typical levels") << Six{2048, 1999, 1500, 123, 812, 2401};
    // float(v) * 0.1f and float(v * 0.1) differ for these.
    QTest::newRow("single-precision product") << Six{100, 200, 300, 400, 13, 9};
}

void TestService::valuesShownAndCharted()
{
    QFETCH(Six, values);
    Bench &b = bench();
    TForm1 &form = *b.form;
    b.measure(values);

    // "Раз": the boxes only.
    b.sim.clearRecord();
    press(form.Button7);
    QCOMPARE(b.sim.sent(), bigEndian(values));
    QCOMPARE(b.shown(), texts(values));
    QCOMPARE(form.trend().series()->count(), 0);
    QCOMPARE(form.trend().count(), 0);

    // Tick with POWER selected, then with LIGHT.
    b.measure({0, 0, 0, 0, 0, 0});
    press(form.Button7);
    b.measure(values);
    QCOMPARE(form.ComboBox2->currentIndex(), PowerItem);
    tick(form);
    QCOMPARE(b.shown(), texts(values));
    VERIFY_POINTS(form.trend().series(), {0, pointY(values[5])});

    form.ComboBox2->setCurrentIndex(LightItem);
    tick(form);
    QCOMPARE(b.shown(), texts(values));
    VERIFY_POINTS(form.trend().series(), {0, pointY(values[5])}, {1, pointY(values[4])});
    QCOMPARE(form.trend().count(), 2);
}

void TestService::oneRequestByteOnTheWire()
{
    Bench &b = bench();
    b.measure({1, 2, 3, 4, 5, 300});

    b.sim.clearRecord();
    press(b.form->Button7);
    QCOMPARE(b.sim.received(), QByteArray(1, '\x10'));
    QCOMPARE(b.sim.sent().size(), 12);

    b.sim.clearRecord();
    tick(*b.form);
    QCOMPARE(b.sim.received(), QByteArray(1, '\x10'));
    QCOMPARE(b.sim.sent().size(), 12);
}

void TestService::noSelectionShowsValuesButNoPoint()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    const Six values{10, 20, 30, 40, 50, 60};
    b.measure(values);
    form.ComboBox2->setCurrentIndex(-1);
    QCOMPARE(form.ComboBox2->currentIndex(), -1);

    b.ticks(3);
    QCOMPARE(b.shown(), texts(values));
    QCOMPARE(form.trend().series()->count(), 0);
    QCOMPARE(form.trend().count(), 0);

    // Choosing an item again charts from X 0.
    form.ComboBox2->setCurrentIndex(PowerItem);
    tick(form);
    VERIFY_POINTS(form.trend().series(), {0, pointY(60)});
}

void TestService::switchingValueContinuesSeries()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    b.measure({1, 2, 3, 4, 50, 300});
    b.ticks(2);
    form.ComboBox2->setCurrentIndex(LightItem);
    b.ticks(2);
    b.measure({1, 2, 3, 4, 70, 900});
    form.ComboBox2->setCurrentIndex(PowerItem);
    b.ticks(1);
    form.ComboBox2->setCurrentIndex(LightItem);
    b.ticks(1);

    VERIFY_POINTS(form.trend().series(), {0, pointY(300)}, {1, pointY(300)}, {2, pointY(50)},
                  {3, pointY(50)}, {4, pointY(900)}, {5, pointY(70)});
    QCOMPARE(form.trend().count(), 6);
    QCOMPARE(b.form->Edit19->text(), QStringLiteral("900"));
}

void TestService::pageFillsThenStays()
{
    QChartView view;
    TrendChart trend(&view);
    const QLineSeries *series = trend.series();
    auto append = [&](int n, int value) {
        for (int i = 0; i < n; ++i)
            trend.append(float(pointY(value)), Green);
    };

    // While the page is not full the range end is stretched as if it were.
    const QList<int> checkpoints{2, 3, 7, 100, 250, 399, Page};
    int n = 0;
    for (int at : checkpoints) {
        append(at - n, 300);
        n = at;
        QCOMPARE(series->count(), n);
        const double end = double(n - 1) * Page / n;
        QCOMPARE(trend.xRange().x(), 0.0);
        QVERIFY2(qFuzzyCompare(trend.xRange().y(), end),
                 qPrintable(QStringLiteral("n=%1: range end %2, expected %3")
                                .arg(n)
                                .arg(trend.xRange().y())
                                .arg(end)));
    }
    QCOMPARE(trend.xRange(), QPointF(0, Page - 1));

    // Later points lie outside the view; the left axis still takes them in.
    append(1, 1000);
    QCOMPARE(trend.xRange(), QPointF(0, Page - 1));
    QCOMPARE(trend.yRange(), QPointF(pointY(300), pointY(1000)));
    append(1, 10);
    QCOMPARE(trend.xRange(), QPointF(0, Page - 1));
    QCOMPARE(trend.yRange(), QPointF(pointY(10), pointY(1000)));

    // A long run: the view and what is held stay put; the count goes on.
    append(1000 - Page - 2, 500);
    QCOMPARE(trend.count(), 1000);
    QCOMPARE(series->count(), Page);
    QVERIFY(series->at(0) == QPointF(0, pointY(300)));
    QCOMPARE(series->at(Page - 1).x(), double(Page - 1));
    QVERIFY(series->at(Page - 1).y() == pointY(300));
    QCOMPARE(trend.xRange(), QPointF(0, Page - 1));
    QCOMPARE(trend.yRange(), QPointF(pointY(10), pointY(1000)));
}

void TestService::resetStartsAgainAtZero()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    TrendChart &trend = form.trend();
    b.measure({1, 2, 3, 4, 5, 300});
    b.ticks(5);

    press(form.Button12);
    QCOMPARE(form.trend().series()->count(), 0);
    QCOMPARE(trend.count(), 0);
    b.ticks(2);
    VERIFY_POINTS(form.trend().series(), {0, pointY(300)}, {1, pointY(300)});
    QCOMPARE(trend.xRange(), QPointF(0, Page / 2));

    // Past a full page (filled without the line), ticks are still shown and counted, and an
    // unseen extreme still reaches the left axis. Then "Сброс": nothing of before remains.
    for (int i = 2; i < Page; ++i)
        trend.append(float(pointY(300)), Green);
    b.measure({1, 2, 3, 4, 5, 65535});
    b.ticks(2);
    QCOMPARE(trend.count(), Page + 2);
    QCOMPARE(form.trend().series()->count(), Page);
    QCOMPARE(trend.yRange().y(), pointY(65535));
    QCOMPARE(form.Edit19->text(), QStringLiteral("65535"));
    press(form.Button12);
    b.measure({1, 2, 3, 4, 5, 200});
    b.ticks(1);
    b.measure({1, 2, 3, 4, 5, 400});
    b.ticks(1);
    QCOMPARE(trend.count(), 2);
    VERIFY_POINTS(form.trend().series(), {0, pointY(200)}, {1, pointY(400)});
    QCOMPARE(trend.xRange(), QPointF(0, Page / 2));
    QCOMPARE(trend.yRange(), QPointF(pointY(200), pointY(400)));
}

void TestService::traceDrawnInPointColour()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    press(form.Button11);

    for (int i = 0; i < 60; ++i) {
        b.measure({1, 2, 3, 4, 5, i % 2 ? 600 : 300 + 5 * i});
        tick(form);
    }
    QCOMPARE(form.trend().series()->count(), 60);
    QCOMPARE(form.trend().series()->color(), QColor(Qt::red));
    for (int i = 0; i < form.trend().series()->count(); ++i)
        QCOMPARE(form.trend().series()->pointConfiguration(i).value(
                     QXYSeries::PointConfiguration::Color),
                 QVariant(Green));

    QCoreApplication::processEvents();
    const QImage image = form.Chart1->grab().toImage();
    int green = 0;
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            green += nearGreen(p);
            red += pureRed(p);
        }
    }
    QVERIFY2(green >= 100 && red == 0,
             qPrintable(QStringLiteral("%1 green, %2 red pixels").arg(green).arg(red)));
}

void TestService::onceWhilePollingAddsNoPoint()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    b.measure({1, 2, 3, 4, 5, 300});
    press(form.Button9);
    QVERIFY(form.Timer1->isActive());
    QTRY_VERIFY(form.trend().count() >= 2);

    // No tick can come between the set-up and the click: the event loop does not run.
    b.measure({7, 8, 9, 10, 11, 12});
    const qint64 before = form.trend().count();
    press(form.Button7);
    QCOMPARE(b.shown(), texts({7, 8, 9, 10, 11, 12}));
    QCOMPARE(form.trend().count(), before);
    QCOMPARE(form.trend().series()->count(), int(before));
    QVERIFY(form.Timer1->isActive());

    QTRY_VERIFY(form.trend().count() >= before + 2);
    press(form.Button9);
    QVERIFY(!form.Timer1->isActive());
    for (int i = 0; i < form.trend().series()->count(); ++i)
        QCOMPARE(form.trend().series()->at(i).x(), double(i));
    QVERIFY(form.trend().series()->points().last().y() == pointY(12));
}

void TestService::panelOpenCloseWhilePolling()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.Panel7->isVisible());
    QVERIFY(!form.Edit2->isVisible());
    QVERIFY(!form.Label3->isVisible());

    press(form.Button11);
    QVERIFY(form.Panel7->isVisible());
    QVERIFY(form.Edit2->isVisible());
    QVERIFY(form.Label3->isVisible());
    QCOMPARE(form.Panel7->pos(), QPoint(0, 0));

    b.measure({1, 2, 3, 4, 5, 111});
    press(form.Button9);
    QVERIFY(form.Timer1->isActive());
    QTRY_COMPARE(form.Edit19->text(), QStringLiteral("111"));
    QTRY_VERIFY(form.trend().count() >= 2);

    press(form.Button10);
    QVERIFY(!form.Panel7->isVisible());
    QCOMPARE(form.Panel7->pos(), QPoint(0, 0));
    QVERIFY(form.Edit2->isVisible());
    QVERIFY(form.Label3->isVisible());
    QVERIFY(form.Timer1->isActive());

    // Hidden, the panel keeps being fed.
    b.sim.clearRecord();
    b.measure({1, 2, 3, 4, 5, 222});
    const qint64 hiddenFrom = form.trend().count();
    QTRY_COMPARE(form.Edit19->text(), QStringLiteral("222"));
    QTRY_VERIFY(form.trend().count() >= hiddenFrom + 3);
    QTRY_VERIFY(b.sim.received().count('\x10') >= 3);
    QVERIFY(form.trend().series()->points().last().y() == pointY(222));

    press(form.Button9);
    QVERIFY(!form.Timer1->isActive());
    const qint64 stopped = form.trend().count();
    const QString shown = form.Edit19->text();
    b.measure({1, 2, 3, 4, 5, 333});
    QTest::qWait(500);
    QCOMPARE(form.trend().count(), stopped);
    QCOMPARE(form.Edit19->text(), shown);

    press(form.Button11);
    QVERIFY(form.Panel7->isVisible());
    QCOMPARE(form.Panel7->pos(), QPoint(0, 0));
}

void TestService::incompleteReplyChangesNothing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("recovers");
    QTest::newRow("silent") << QStringLiteral("fault silent") << true;
    QTest::newRow("no bytes") << QStringLiteral("fault short 0") << true;
    QTest::newRow("5 bytes") << QStringLiteral("fault short 5") << true;
    QTest::newRow("11 bytes") << QStringLiteral("fault short 11") << true;
    QTest::newRow("line gone") << QStringLiteral("hangup") << false;
}

void TestService::incompleteReplyChangesNothing()
{
    QFETCH(QString, fault);
    QFETCH(bool, recovers);
    Bench &b = bench();
    TForm1 &form = *b.form;
    const Six first{1, 2, 3, 4, 5, 300};
    b.measure(first);
    tick(form);
    QCOMPARE(b.shown(), texts(first));
    QCOMPARE(form.trend().count(), 1);
    const QByteArray held = b.heldBlockHead();

    // What the unit would have said, had it answered in full.
    const Six second{0x0707, 0x0808, 0x0909, 0x0A0A, 0x0B0B, 0x0C0C};
    b.measure(second);
    b.sim.clearRecord();
    b.sim.ok(fault);
    press(form.Button7);
    tick(form);
    form.ComboBox2->setCurrentIndex(LightItem);
    tick(form);
    QCOMPARE(b.shown(), texts(first));
    QCOMPARE(form.trend().count(), 1);
    QCOMPARE(form.trend().series()->count(), 1);
    QCOMPARE(b.heldBlockHead(), held);
    if (!recovers)
        return;
    QCOMPARE(b.sim.received(), QByteArray(3, '\x10'));

    b.sim.ok(QStringLiteral("fault none"));
    tick(form);
    QCOMPARE(b.shown(), texts(second));
    VERIFY_POINTS(form.trend().series(), {0, pointY(300)}, {1, pointY(second[4])});
}

void TestService::noPortChangesNothing()
{
    // A window with no unit behind any port: no port is open.
    m_bench.reset();
    AbsentUnit unit;
    TForm1 form(unit.line(), unit.clock());
    waitIdle(form);
    QVERIFY(!form.channel().isOpen());
    press(form.Button7);
    tick(form);
    const QStringList zeros(6, QStringLiteral("0"));
    QCOMPARE(measuredTexts(form), zeros);
    QCOMPARE(form.trend().count(), 0);
    QCOMPARE(form.trend().series()->count(), 0);
}

void TestService::measurementKeepsHeldSettings()
{
    Bench &b = bench();
    TForm1 &form = *b.form;
    const QByteArray original = b.sim.block();
    QCOMPARE(original.size(), 512);
    QVERIFY(quint8(original[6]) != 9);

    // Every reply byte differs from what the block holds at offsets 0-11.
    b.measure({0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5});
    QVERIFY(!original.left(12).contains('\xA5'));
    press(form.Button7);
    tick(form);
    QCOMPARE(form.Edit14->text(), QStringLiteral("42405"));
    QCOMPARE(b.heldBlockHead(), original.left(12));

    form.Edit5->setText(QStringLiteral("9"));
    b.sim.clearRecord();
    press(form.Button4);
    QByteArray expected = original;
    expected[6] = 9;
    const QByteArray wire = b.sim.received();
    QVERIFY(wire.size() >= 513);
    QCOMPARE(wire.at(0), 'S');
    QCOMPARE(wire.mid(1, 512), expected);
    QCOMPARE(b.sim.block(), expected);
    QCOMPARE(form.Edit5->text(), QStringLiteral("9"));
}

QTEST_MAIN(TestService)
#include "tst_service.moc"
