// plot.cpp - the profile plots on Qt Charts, rendered offscreen.
#include "plot.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QSvgGenerator>
#include <QValueAxis>
#include <QWidget>

#include <cstdlib>
#include <memory>

namespace cli {
namespace {

constexpr QSize kPlotSize(1200, 480);

QChart *Chart(const std::vector<StepSeries> &series, bool overTime) {
  auto *chart = new QChart();
  chart->setTitle(overTime ? QStringLiteral("frequency over time")
                           : QStringLiteral("frequency over step"));
  for (const auto &one : series) {
    auto *line = new QLineSeries();
    line->setName(QString::fromStdString(one.name));
    double milliseconds = 0;
    for (std::size_t step = 0; step < one.frequencies.size(); ++step) {
      const double x = overTime ? milliseconds : static_cast<double>(step + 1);
      line->append(x, one.frequencies[step]);
      milliseconds += 1000.0 / one.frequencies[step];
    }
    chart->addSeries(line);
  }
  chart->createDefaultAxes();
  chart->axes(Qt::Horizontal)
      .front()
      ->setTitleText(overTime ? QStringLiteral("ms") : QStringLiteral("step"));
  chart->axes(Qt::Vertical).front()->setTitleText(QStringLiteral("steps/s"));
  return chart;
}

// A QApplication for rendering only: offscreen unless the caller chose a platform.
std::unique_ptr<QApplication> RenderingApplication() {
  if (QApplication::instance()) {
    return nullptr;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  static int argc = 1;
  static char name[] = "kdx620ctl";
  static char *argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

} // namespace

bool WritePlot(const std::string &file, const std::vector<StepSeries> &series, std::string &error) {
  const auto application = RenderingApplication();
  QWidget sheet;
  auto *layout = new QHBoxLayout(&sheet);
  for (const bool overTime : {false, true}) {
    auto *view = new QChartView(Chart(series, overTime));
    view->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(view);
  }
  sheet.resize(kPlotSize);
  sheet.setAttribute(Qt::WA_DontShowOnScreen);
  sheet.show();
  const QString name = QString::fromStdString(file);
  if (QFile probe(name); !probe.open(QIODevice::WriteOnly)) {
    error = "cannot write " + file + ": " + probe.errorString().toStdString();
    return false;
  }
  if (name.endsWith(QStringLiteral(".svg"))) {
    QSvgGenerator svg;
    svg.setFileName(name);
    svg.setSize(kPlotSize);
    svg.setViewBox(QRect(QPoint(0, 0), kPlotSize));
    QPainter painter(&svg);
    sheet.render(&painter);
    return true;
  }
  const QImage image = sheet.grab().toImage();
  if (!image.save(name, "PNG")) {
    error = "cannot write " + file;
    return false;
  }
  return true;
}

} // namespace cli
