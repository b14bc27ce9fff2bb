#pragma once

#include <QColor>
#include <QPointF>
#include <vector>

class QChartView;
class QLineSeries;
class QValueAxis;

// The service panel's trend: one line series, a page of 400 points that stays on the first
// page, the left axis spanning every point appended since the last clear.
//
// Only the first page is ever in view, so only its points are kept; of the later ones the
// chart keeps their count and the smallest and largest Y. Memory and work per point stay
// the same however long polling runs, and the chart looks as if every point were kept.
//
// Each segment is drawn in the colour of the point it leads to. The series itself keeps the
// series colour (red) and each point's colour; the trace is drawn by one overlay line per
// run of equally coloured points.
class TrendChart {
public:
    static constexpr int PageSize = 400;

    explicit TrendChart(QChartView *view);

    QLineSeries *series() const { return m_series; }

    // Appends a point whose X is the number of points appended before it.
    void append(float y, const QColor &colour);
    void clear();

    qint64 count() const { return m_count; }
    QPointF xRange() const; // (min, max) of the bottom axis
    QPointF yRange() const; // (min, max) of the left axis
    const std::vector<QLineSeries *> &traces() const { return m_traces; }

private:
    void updateAxes();

    QChartView *m_view;
    QLineSeries *m_series;
    QValueAxis *m_axisX;
    QValueAxis *m_axisY;
    std::vector<QLineSeries *> m_traces;
    QColor m_lastColour;
    qint64 m_count = 0;
    float m_minY = 0;
    float m_maxY = 0;
};
