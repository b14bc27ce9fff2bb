#include "app/trendchart.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

TrendChart::TrendChart(QChartView *view)
    : m_view(view), m_series(new QLineSeries), m_axisX(new QValueAxis), m_axisY(new QValueAxis)
{
    auto *chart = new QChart;
    chart->setTitle(QStringLiteral("TChart"));
    chart->legend()->hide();
    chart->setBackgroundBrush(Qt::white);
    chart->setPlotAreaBackgroundVisible(false);
    chart->setAnimationOptions(QChart::NoAnimation);

    m_series->setObjectName(QStringLiteral("Series1"));
    m_series->setPointsVisible(false);
    m_series->setPointLabelsVisible(false);
    // The series holds the data; the overlay traces draw it segment by segment. Its pen keeps
    // the series colour (red) but draws nothing.
    QPen hidden(Qt::red);
    hidden.setStyle(Qt::NoPen);
    m_series->setPen(hidden);
    chart->addSeries(m_series);

    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(m_axisY, Qt::AlignLeft);
    m_axisX->setVisible(false);
    m_series->attachAxis(m_axisX);
    m_series->attachAxis(m_axisY);

    // The view hands its own default chart back to us; it is no longer needed.
    QChart *previous = m_view->chart();
    m_view->setChart(chart);
    delete previous;
    m_view->setRenderHint(QPainter::Antialiasing, false);
    updateAxes();
}

void TrendChart::append(float y, const QColor &colour)
{
    const qint64 x = m_count;
    if (m_count == 0) {
        m_minY = m_maxY = y;
    } else {
        m_minY = std::min(m_minY, y);
        m_maxY = std::max(m_maxY, y);
    }
    ++m_count;

    if (x < PageSize) {
        const QPointF point{double(x), double(y)};
        m_series->append(point);
        m_series->setPointConfiguration(int(x), QXYSeries::PointConfiguration::Color, colour);
        if (m_traces.empty() || colour != m_lastColour) {
            auto *trace = new QLineSeries;
            trace->setPen(QPen(colour, 1));
            m_view->chart()->addSeries(trace);
            trace->attachAxis(m_axisX);
            trace->attachAxis(m_axisY);
            if (x > 0) // the segment leading to this point takes its colour
                trace->append(m_series->at(int(x) - 1));
            m_traces.push_back(trace);
            m_lastColour = colour;
        }
        m_traces.back()->append(point);
    }
    updateAxes();
}

void TrendChart::clear()
{
    m_series->clear();
    for (QLineSeries *trace : m_traces) {
        m_view->chart()->removeSeries(trace);
        delete trace;
    }
    m_traces.clear();
    m_count = 0;
    updateAxes();
}

void TrendChart::updateAxes()
{
    const int held = m_series->count();
    double x0 = 0;
    double x1 = 1;
    if (held > 0) {
        x0 = m_series->at(0).x();
        const double last = m_series->at(held - 1).x();
        // A page not yet full is stretched as if it were, so the trace grows from the left.
        x1 = x0 + (last - x0) * PageSize / held;
    }
    if (x1 <= x0)
        x1 = x0 + 1;
    m_axisX->setRange(x0, x1);

    double y0 = m_count > 0 ? m_minY : 0;
    double y1 = m_count > 0 ? m_maxY : 1;
    if (y1 <= y0) {
        y0 -= 1;
        y1 += 1;
    }
    m_axisY->setRange(y0, y1);
}

QPointF TrendChart::xRange() const { return {m_axisX->min(), m_axisX->max()}; }

QPointF TrendChart::yRange() const { return {m_axisY->min(), m_axisY->max()}; }
