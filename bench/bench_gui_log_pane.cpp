// How long the log pane takes to take 100,000 device lines, appended the way the receive path
// appends them (one batch per received chunk), and what a full pane costs once it trims.
// Runs on the offscreen platform unless a display is asked for.

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/log_pane.h"

namespace {

double AppendLines(LogPane& pane, int lines, int linesPerChunk, bool paintEachChunk = true) {
  QString batch;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < lines; ++i) {
    batch += QStringLiteral(" %1\t09:15:02\tAT+uart:gsm,23,agps,3,gps,7,sim,1#\n").arg(i);
    if ((i + 1) % linesPerChunk == 0) {
      pane.AppendBatch(batch);
      batch.clear();
      if (paintEachChunk) QCoreApplication::processEvents();
    }
  }
  pane.AppendBatch(batch);
  pane.Flush();
  QCoreApplication::processEvents();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  constexpr int kLines = 100000;
  for (const int perChunk : {1, 10, 100}) {
    LogPane pane;
    pane.resize(1200, 400);
    pane.show();
    const double seconds = AppendLines(pane, kLines, perChunk);
    std::printf("append %d lines, %3d per chunk: %.3f s (%.1f us/line)\n", kLines, perChunk,
                seconds, seconds * 1e6 / kLines);
  }
  {
    LogPane pane;
    pane.resize(1200, 400);
    pane.show();
    const double seconds = AppendLines(pane, kLines, 1, false);
    std::printf("append %d lines, one per chunk, painted once at the end: %.3f s\n", kLines,
                seconds);
  }
  // A pane held at a small bound trims its oldest lines as it goes.
  LogPane bounded;
  bounded.SetCharacterLimit(1000000);
  bounded.show();
  const double seconds = AppendLines(bounded, kLines, 10);
  std::printf(
      "append %d lines into a 1,000,000-character pane (trimming): %.3f s, %lld chars kept\n",
      kLines, seconds, static_cast<long long>(bounded.CharacterCount()));
  return 0;
}
