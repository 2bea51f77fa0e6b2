// The window on small screens: at 1024x600, 1366x768 and 1920x1080 (physical pixels, so at
// 200 % the window has half as many) no control lies outside what the window can show or
// scroll to, none overlaps another, none is squeezed below what its text needs.

#include <QAbstractScrollArea>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/language.h"
#include "tests/gui/gui_support.h"

namespace {

// Widgets the operator sees as one control; what they contain is theirs.
bool IsControl(const QWidget* widget) {
  return qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
         qobject_cast<const QLineEdit*>(widget) ||
         (qobject_cast<const QAbstractScrollArea*>(widget) &&
          widget->objectName() != QLatin1String("contentScroll"));
}

bool InsideAControl(const QWidget* widget, const QWidget* window) {
  for (const QWidget* p = widget->parentWidget(); p != window; p = p->parentWidget()) {
    if (IsControl(p)) return true;
  }
  return false;
}

QString Describe(const QWidget* widget) {
  return QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') +
         widget->objectName() + QLatin1Char(' ') + widget->property("text").toString();
}

QStringList Problems(CConfigDlg& window) {
  QStringList problems;
  auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("contentScroll"));
  if (scroll == nullptr || !window.rect().contains(scroll->geometry())) {
    return {QStringLiteral("the scroll area is not within the window")};
  }
  const QWidget* content = scroll->widget();
  std::vector<std::pair<const QWidget*, QRect>> placed;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window) || !IsControl(widget) || InsideAControl(widget, &window))
      continue;
    // Reachable: within the scrolled content, or within the window itself.
    const QWidget* root = content->isAncestorOf(widget) ? content : &window;
    if (!root->rect().contains(QRect(widget->mapTo(root, QPoint()), widget->size()))) {
      problems << QStringLiteral("outside: ") + Describe(widget);
    }
    const QSize needed = widget->minimumSizeHint();
    auto* display = qobject_cast<QLineEdit*>(widget);
    if (display != nullptr && display->isReadOnly()) {
      // A display shows all of what it says.
      const int textWidth = display->fontMetrics().horizontalAdvance(display->text());
      if (textWidth > display->contentsRect().width() - 4) {
        problems << QStringLiteral("clipped: ") + Describe(widget);
      }
    } else if (display == nullptr &&
               (widget->width() < needed.width() || widget->height() < needed.height())) {
      problems << QStringLiteral("squeezed: ") + Describe(widget);
    }
    const QRect inWindow(widget->mapTo(&window, QPoint()), widget->size());
    for (const auto& [other, otherRect] : placed) {
      if (inWindow.intersects(otherRect)) {
        problems << QStringLiteral("overlap: %1 / %2").arg(Describe(widget), Describe(other));
      }
    }
    placed.emplace_back(widget, inWindow);
  }
  return problems;
}

}  // namespace

class TestScreenFit : public QObject {
  Q_OBJECT

 private slots:
  void everyControlIsReachableAndApart_data();
  void everyControlIsReachableAndApart();
};

void TestScreenFit::everyControlIsReachableAndApart_data() {
  QTest::addColumn<QSize>("physical");
  QTest::addColumn<UiLanguage>("language");
  for (const auto language : {UiLanguage::kChinese, UiLanguage::kEnglish}) {
    const QString code = LanguageCode(language);
    for (const QSize size : {QSize(1024, 600), QSize(1366, 768), QSize(1920, 1080)}) {
      QTest::addRow("%dx%d %s", size.width(), size.height(), qPrintable(code)) << size << language;
    }
  }
}

void TestScreenFit::everyControlIsReachableAndApart() {
  QFETCH(QSize, physical);
  QFETCH(UiLanguage, language);
  QVERIFY(ApplyLanguage(language));
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  const qreal ratio = c.dialog->devicePixelRatioF();
  const QSize logical(qRound(physical.width() / ratio), qRound(physical.height() / ratio));
  c.dialog->resize(logical);
  QTRY_COMPARE(c.dialog->size(), logical);
  QApplication::processEvents();

  const QStringList problems = Problems(*c.dialog);
  QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
  if (ratio == 1.0) {
    // At full scale the width always fits: only the height scrolls on a short screen.
    auto* scroll = c.dialog->findChild<QScrollArea*>(QStringLiteral("contentScroll"));
    QVERIFY(!scroll->horizontalScrollBar()->isVisible());
  }
}

QTEST_MAIN(TestScreenFit)
#include "test_screen_fit.moc"
