// Where the window starts: the stored position where the frame fits there, the least move
// that makes it fit otherwise, and the top-left corner of the available area where it cannot.

#include "app/placement.h"

#include <QTest>

class TestPlacement : public QObject {
    Q_OBJECT

private slots:
    void framePosition_data();
    void framePosition();
};

void TestPlacement::framePosition_data()
{
    QTest::addColumn<QPoint>("stored");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected");

    const QPoint stored(1184, 124);
    const QSize frame(668, 670); // 664 x 640 with a title bar and a thin border
    // Screens in device-independent pixels, less a 30-pixel panel at the bottom.
    const QRect desk(0, 0, 1920, 1050);
    const QRect laptop(0, 0, 1366, 738);
    const QRect laptop125(0, 0, 1093, 584);

    QTest::newRow("fits where stored") << stored << frame << desk << stored;
    QTest::newRow("just fits at the right and bottom edges")
        << QPoint(1252, 380) << frame << desk << QPoint(1252, 380);
    QTest::newRow("one pixel over the right edge")
        << QPoint(1253, 124) << frame << desk << QPoint(1252, 124);
    QTest::newRow("laptop: left and up") << stored << frame << laptop << QPoint(698, 68);
    QTest::newRow("laptop, only too far right")
        << QPoint(1184, 20) << frame << laptop << QPoint(698, 20);
    QTest::newRow("before the top-left corner")
        << QPoint(-50, -10) << frame << desk << QPoint(0, 0);
    QTest::newRow("area with a panel at the left and top")
        << QPoint(10, 5) << frame << QRect(64, 27, 1856, 1053) << QPoint(64, 27);
    QTest::newRow("second screen to the right: moves right onto it")
        << stored << frame << QRect(1920, 0, 1280, 994) << QPoint(1920, 124);
    QTest::newRow("exactly the area's size")
        << stored << QSize(1366, 738) << laptop << QPoint(0, 0);
    QTest::newRow("too tall: top-left corner")
        << stored << frame << laptop125 << laptop125.topLeft();
    QTest::newRow("too wide only: top-left corner")
        << QPoint(100, 100) << QSize(1400, 600) << QRect(10, 20, 1366, 738) << QPoint(10, 20);
    QTest::newRow("too large both ways, area off the origin")
        << stored << QSize(2000, 1200) << QRect(1920, 30, 1920, 1050) << QPoint(1920, 30);
}

void TestPlacement::framePosition()
{
    QFETCH(QPoint, stored);
    QFETCH(QSize, frame);
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);

    const QPoint at = Placement::framePosition(stored, frame, available);
    QCOMPARE(at, expected);
    const QRect placed(at, frame);
    if (frame.width() <= available.width() && frame.height() <= available.height())
        QVERIFY(available.contains(placed));
}

QTEST_APPLESS_MAIN(TestPlacement)
#include "tst_placement.moc"
