#include "app/records_charts.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QStackedBarSeries>
#include <QTimeZone>
#include <QValueAxis>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "app/language.h"
#include "records/record_store.h"

namespace {

// The charts' own words, in the interface language.
QString Words(const char* chinese, const char* english) {
  return QString::fromUtf8(CurrentLanguage() == UiLanguage::kEnglish ? english : chinese);
}

QString U(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

// What OpenStore would open for the same URL: the variable, else the station's own file.
std::string FiguresUrl(const std::string& url) {
  if (!url.empty()) return url;
  if (const char* configured = std::getenv(records::kStoreUrlVariable);
      configured != nullptr && *configured != '\0') {
    return configured;
  }
  return "sqlite:" + records::DefaultStorePath();
}

std::string UtcOf(const QDateTime& time) {
  return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
}

QString Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return QStringLiteral("—");
  return QString::number(double(part) * 100 / double(whole), 'f', 1) + QStringLiteral(" %");
}

// Replaces the chart's series and axes with `series` over `labels`.
void Show(QChart* chart, QAbstractBarSeries* series, const QStringList& labels) {
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  chart->addSeries(series);
  auto* x = new QBarCategoryAxis(chart);
  x->append(labels);
  auto* y = new QValueAxis(chart);
  y->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
  // Stacked or single, the highest bar is the largest sum over the sets; at least 1, so an
  // empty day still has an axis.
  qreal top = 1;
  for (qsizetype i = 0; i < labels.size(); ++i) {
    qreal sum = 0;
    for (const QBarSet* set : series->barSets()) sum += set->at(i);
    top = std::max(top, sum);
  }
  y->setRange(0, top);
  y->applyNiceNumbers();
}

}  // namespace

RecordsCharts::RecordsCharts(std::string storeUrl, QWidget* parent)
    : QWidget(parent), url_(FiguresUrl(storeUrl)) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  yields_ = new QLabel(this);
  yields_->setObjectName(QStringLiteral("recordsYields"));
  yields_->setTextFormat(Qt::PlainText);
  grid->addWidget(yields_, 0, 0, 1, 3);
  const QString titles[] = {
      Words("每小时测试数", "Units tested per hour"), Words("失败原因排行", "Failure Pareto"),
      Words("首次定位时间 (s)", "Time to first fix (s)"), Words("使用卫星数", "Satellites used"),
      Words("最强信号 (dB-Hz)", "Best signal (dB-Hz)")};
  const int cells[][2] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}};
  for (int i = 0; i < 5; ++i) {
    charts_[i] = new QChart;
    charts_[i]->setTitle(titles[i]);
    charts_[i]->legend()->setVisible(i == 0);
    auto* view = new QChartView(charts_[i], this);
    view->setAccessibleName(titles[i]);
    view->setMinimumSize(240, 180);
    grid->addWidget(view, cells[i][0], cells[i][1], 1, i == 1 ? 2 : 1);
  }
}

QChart* RecordsCharts::Chart(Figure figure) const {
  return charts_[static_cast<int>(figure)];
}

struct RecordsCharts::Figures {
  records::StoreStatus status;
  std::vector<records::HourCount> hours;
  records::Yields yields, hour;
  records::Pareto pareto;
  std::vector<std::pair<Figure, records::Histogram>> histograms;
};

namespace {

// Today's figures, read on the read's thread.
void ReadFigures(records::FigureReader& reader, const records::FigureWindow& day,
                 const records::FigureWindow& lastHour, RecordsCharts::Figures* out);

}  // namespace

void RecordsCharts::Refresh() {
  if (reading_) {
    readAgain_ = true;
    return;
  }
  StartRead();
}

void RecordsCharts::StartRead() {
  if (read_.joinable()) read_.join();  // the last read has posted its figures: it is ending
  reading_ = true;
  const QDate today = QDate::currentDate();
  const records::FigureWindow day = {
      UtcOf(QDateTime(today, QTime(0, 0), QTimeZone::systemTimeZone())),
      UtcOf(QDateTime(today.addDays(1), QTime(0, 0), QTimeZone::systemTimeZone()))};
  const QDateTime now = QDateTime::currentDateTime();
  const records::FigureWindow lastHour = {UtcOf(now.addSecs(-3600)), UtcOf(now.addSecs(3600))};
  QPointer<RecordsCharts> self(this);
  read_ = std::thread([this, self, day, lastHour] {
    auto figures = std::make_shared<Figures>();
    if (!reader_) reader_ = records::OpenFigureReader(url_, &figures->status);
    if (reader_) ReadFigures(*reader_, day, lastHour, figures.get());
    if (!figures->status.ok) reader_.reset();
    // The destructor joins this thread before `this` goes, so `self` is still valid to test.
    QMetaObject::invokeMethod(
        self.data(),
        [self, figures] {
          if (!self) return;
          self->reading_ = false;
          self->ShowFigures(*figures);
          if (self->readAgain_) {
            self->readAgain_ = false;
            self->StartRead();
          }
        },
        Qt::QueuedConnection);
  });
}

RecordsCharts::~RecordsCharts() {
  if (read_.joinable()) read_.join();
}

namespace {

void ReadFigures(records::FigureReader& reader, const records::FigureWindow& day,
                 const records::FigureWindow& lastHour, RecordsCharts::Figures* out) {
  records::StoreStatus& status = out->status;
  status = reader.HourlyCounts(day, &out->hours);
  if (status.ok) status = reader.UnitYields(day, &out->yields);
  if (status.ok) status = reader.UnitYields(lastHour, &out->hour);
  if (status.ok) status = reader.FailurePareto(day, &out->pareto);
  if (!status.ok) return;
  const records::GpsLimits limits;
  const std::pair<RecordsCharts::Figure, records::GpsMeasure> measures[] = {
      {RecordsCharts::Figure::kTtff, records::GpsMeasure::kTtff},
      {RecordsCharts::Figure::kSatellites, records::GpsMeasure::kSatellitesUsed},
      {RecordsCharts::Figure::kSignal, records::GpsMeasure::kBestSignal}};
  for (const auto& [figure, measure] : measures) {
    auto histogram = records::HistogramLayout(measure, limits);
    if (reader.Distribution(day, &histogram).ok) out->histograms.emplace_back(figure, histogram);
  }
}

}  // namespace

void RecordsCharts::ShowFigures(const Figures& figures) {
  if (!figures.status.ok) {
    yields_->setText(U(figures.status.message));
    return;
  }
  const records::Yields& yields = figures.yields;
  yields_->setText(Words("今日 %1 台 · 直通率 %2 · 最终良率 %3 · 最近一小时直通率 %4",
                         "Today %1 units · first-pass %2 · final %3 · last hour first-pass %4")
                       .arg(yields.units)
                       .arg(Percent(yields.firstPassed, yields.units),
                            Percent(yields.finalPassed, yields.units),
                            Percent(figures.hour.firstPassed, figures.hour.units)));
  ShowHourly(figures.hours);
  ShowPareto(figures.pareto);
  for (const auto& [figure, histogram] : figures.histograms) ShowHistogram(figure, histogram);
}

void RecordsCharts::ShowHourly(const std::vector<records::HourCount>& hours) {
  // Hours as the station's clock reads them, from the first with a unit to the last.
  std::map<QString, std::map<std::string, std::int64_t>> byHour;
  std::map<std::string, bool> stations;
  for (const auto& h : hours) {
    const QDateTime utc =
        QDateTime::fromString(U(h.hourUtc) + QStringLiteral(":00:00Z"), Qt::ISODate);
    byHour[utc.toLocalTime().toString(QStringLiteral("HH:00"))][h.station] += h.tested;
    stations[h.station] = true;
  }
  auto* series = new QStackedBarSeries;
  QStringList labels;
  for (const auto& [label, counts] : byHour) labels << label;
  for (const auto& [station, unused] : stations) {
    auto* set = new QBarSet(U(station));
    for (const auto& [label, counts] : byHour) {
      const auto found = counts.find(station);
      *set << double(found == counts.end() ? 0 : found->second);
    }
    series->append(set);
  }
  Show(Chart(Figure::kHourly), series, labels);
}

void RecordsCharts::ShowPareto(const records::Pareto& pareto) {
  constexpr std::size_t kShown = 8;
  auto* set = new QBarSet(Words("次数", "count"));
  set->setColor(QColor(0xc6, 0x28, 0x28));
  QStringList labels;
  for (std::size_t i = 0; i < pareto.reasons.size() && i < kShown; ++i) {
    labels << U(pareto.reasons[i].step + ": " + pareto.reasons[i].reason);
    *set << double(pareto.reasons[i].count);
  }
  auto* series = new QBarSeries;
  series->append(set);
  Show(Chart(Figure::kPareto), series, labels);
}

void RecordsCharts::ShowHistogram(Figure figure, const records::Histogram& h) {
  auto* set = new QBarSet(Words("数量", "count"));
  QStringList labels;
  auto edge = [&](std::size_t i) { return QString::number(h.low + h.width * double(i), 'g', 4); };
  if (h.low > 0) {
    labels << QStringLiteral("< ") + edge(0);
    *set << double(h.below);
  }
  for (std::size_t i = 0; i < h.counts.size(); ++i) {
    labels << (h.width == 1 ? edge(i) : edge(i) + QStringLiteral("–") + edge(i + 1));
    *set << double(h.counts[i]);
  }
  labels << QStringLiteral("≥ ") + edge(h.counts.size());
  *set << double(h.above);
  auto* series = new QBarSeries;
  series->append(set);
  QChart* chart = Chart(figure);
  Show(chart, series, labels);
  std::int64_t measured = h.below + h.above;
  for (auto count : h.counts) measured += count;
  const QString limit = QString::number(h.limit, 'g', 4);
  chart->setTitle(chart->title().section(QStringLiteral("  "), 0, 0) + QStringLiteral("  ") +
                  (h.limitIsMaximum ? QStringLiteral("≤ ") : QStringLiteral("≥ ")) + limit +
                  QStringLiteral(" · ") + Words("合格 ", "within ") +
                  Percent(h.withinLimit, measured));
}
