// The std event loop, PumpedDelay, and the error report the operator reads.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "serial/comm_port.h"
#include "serial/std_ui_dispatcher.h"

namespace {

TEST(PumpedDelay, RunsTasksPostedFromOtherThreadsMeanwhile) {
  StdUiDispatcher ui;
  std::vector<int> ran;
  const std::thread::id uiThread = std::this_thread::get_id();
  bool allOnUiThread = true;
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i) {
      ui.Post([&, i] {
        ran.push_back(i);
        allOnUiThread = allOnUiThread && std::this_thread::get_id() == uiThread;
      });
    }
  });
  poster.join();
  PumpedDelay(ui, 50);
  ASSERT_EQ(ran.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[i], i) << "tasks run in posting order";
  EXPECT_TRUE(allOnUiThread);
}

TEST(PumpedDelay, HandlesNestedDelaysInsideATask) {
  StdUiDispatcher ui;
  std::string order;
  ui.Post([&] {
    order += "a";
    PumpedDelay(ui, 20);  // a handler that waits, as the connection scan does
    order += "c";
  });
  ui.Post([&] { order += "b"; });
  PumpedDelay(ui, 100);
  EXPECT_EQ(order, "abc");
}

TEST(PumpedDelay, ReturnsEarlyWhenQuitIsRequested) {
  // Without the early return these waits would outlast the test's time limit.
  StdUiDispatcher posted;
  posted.Post([&] { posted.RequestQuit(); });
  PumpedDelay(posted, 600000);

  StdUiDispatcher ui;
  std::thread quitter([&] { ui.RequestQuit(); });
  PumpedDelay(ui, 600000);
  quitter.join();
  bool ran = false;
  ui.Post([&] { ran = true; });
  PumpedDelay(ui, 600000);
  EXPECT_FALSE(ran) << "after a quit request no nested loop runs";
  EXPECT_TRUE(ui.RunUntil([&] { return ran; }, std::chrono::seconds(10)))
      << "tests can still drain the queue";
}

TEST(FormatPortErrorReport, ReadsAsTheOperatorExpectsAndNeverOverrunsItsBuffer) {
  struct Row {
    const char* what;
    const char* operation;
    std::string description;
    int port;
    std::string expected;
  };
  const std::string head =
      "WARNING:  GetOverlappedResults() in ReadFile() Failed with the following error: \n";
  const std::string longText(300, 'e');
  const Row rows[] = {
      {"write failed at once", "WriteFile()", "Input/output error", 97,
       "WARNING:  WriteFile() Failed with the following error: \nInput/output error\nPort: 97\n"},
      {"write completion failed", "GetOverlappedResults() in WriteFile()", "Broken pipe", 65,
       "WARNING:  GetOverlappedResults() in WriteFile() Failed with the following error: "
       "\nBroken pipe\nPort: 65\n"},
      {"a description that fills the buffer is cut at 199 bytes",
       "GetOverlappedResults() in ReadFile()", longText, 3,
       head + longText.substr(0, kPortErrorReportSize - 1 - head.size())},
  };
  for (const Row& row : rows) {
    const std::string text = FormatPortErrorReport(row.operation, row.description, row.port);
    EXPECT_EQ(text, row.expected) << row.what;
    EXPECT_LT(text.size(), kPortErrorReportSize) << row.what;
  }
}

}  // namespace
