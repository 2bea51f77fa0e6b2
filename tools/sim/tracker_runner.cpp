#include "tools/sim/tracker_runner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/port_list.h"
#include "platform/serial_io.h"

namespace sim {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kNmeaPeriod{1000};
constexpr milliseconds kSplitPause{30};
constexpr milliseconds kReplugRetry{1000};
// What may wait for a console that does not read; older frames make way for newer ones.
constexpr std::size_t kQueueLimit = std::size_t{16} * 1024;
constexpr std::size_t kFloodLowWater = 2048;
constexpr int kFloodBatch = 32;

milliseconds Seconds(double seconds) {
  return milliseconds(static_cast<long long>(seconds * 1000));
}

std::uint32_t SeedOf(const SimOptions& options) {
  if (options.seed) return *options.seed;
  return std::random_device{}();
}

TrackerModel ModelFrom(const SimOptions& options) {
  TrackerModel model(options.presets);
  model.SetTestFailure(TestPart::kGsm, options.failTest[0]);
  model.SetTestFailure(TestPart::kGps, options.failTest[1]);
  model.SetTestFailure(TestPart::kKey, options.failTest[2]);
  model.SetStepFaults(options.stepFaults);
  return model;
}

UtcTimeOfDay UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return {utc.tm_hour, utc.tm_min, utc.tm_sec};
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return !file.bad();
}

// Cuts the wire bytes of a frame at the given offsets (those inside the frame).
std::vector<std::vector<std::uint8_t>> SplitAt(const std::vector<std::uint8_t>& frame,
                                               const std::vector<std::size_t>& offsets) {
  std::vector<std::vector<std::uint8_t>> pieces;
  std::size_t begin = 0;
  for (std::size_t offset : offsets) {
    if (offset >= frame.size()) break;
    pieces.emplace_back(frame.begin() + static_cast<long>(begin),
                        frame.begin() + static_cast<long>(offset));
    begin = offset;
  }
  pieces.emplace_back(frame.begin() + static_cast<long>(begin), frame.end());
  return pieces;
}

}  // namespace

TrackerRunner::TrackerRunner(SimOptions options, std::FILE* out, std::FILE* err)
    : options_(std::move(options)),
      out_(out),
      err_(err),
      random_(SeedOf(options_)),
      model_(ModelFrom(options_)),
      drive_(random_(), options_.glonass) {
  defaultFolder_ = options_.portsFolder.empty();
  if (defaultFolder_) options_.portsFolder = serial::PortsFolder();
  drive_.SetNeverFix(options_.neverFix);
  lastPortNumber_ = options_.portNumber;
}

void TrackerRunner::Note(const std::string& text) const {
  std::fprintf(err_, "tracker-sim: %s\n", text.c_str());
  std::fflush(err_);
}

int TrackerRunner::Run(int controlFd, const std::function<Control()>& onControl) {
  if (!Start()) return 1;
  while (true) {
    const Clock::time_point now = Clock::now();
    RunDueTimers(now);
    pollfd fds[2] = {{port_.masterFd(), POLLIN, 0}, {controlFd, POLLIN, 0}};
    if (WantsToWrite(now)) fds[0].events |= POLLOUT;
    const auto wait = std::chrono::ceil<milliseconds>(NextDue() - Clock::now());
    const int timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, 60000));
    if (poll(fds, 2, timeout) < 0) {
      if (errno == EINTR) continue;
      Note("poll: " + serial::ErrnoText(errno));
      Unplug();
      return 1;
    }
    if (fds[1].revents != 0) {
      const Control control = onControl();
      if (control == Control::kStop) break;
      if (control == Control::kTogglePlug) TogglePlug();
      continue;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      Note("the pseudo-terminal failed; plugging in a new one");
      Unplug();
      replugAt_ = Clock::now() + kReplugRetry;
      continue;
    }
    if (fds[0].revents & POLLIN) ReadConsole();
    if (fds[0].revents & POLLOUT) WritePending(Clock::now());
  }
  Unplug();
  return 0;
}

bool TrackerRunner::Start() {
  if (!options_.nmeaFile.empty()) {
    std::string text;
    std::string problem;
    if (!ReadFile(options_.nmeaFile, &text)) {
      Note("cannot read " + options_.nmeaFile + ": " + serial::ErrnoText(errno));
      return false;
    }
    replay_ = NmeaReplay::FromText(text, &problem);
    if (!replay_) {
      Note(options_.nmeaFile + ": " + problem);
      return false;
    }
  }
  if (!Plug()) return false;
  const Clock::time_point now = Clock::now();
  nextNmea_ = now + kNmeaPeriod;
  if (options_.statusInterval > 0) nextStatus_ = now + Seconds(options_.statusInterval);
  if (options_.logInterval > 0) nextLogLine_ = now + Seconds(options_.logInterval);
  if (options_.unplugAfter >= 0) unplugAt_ = now + Seconds(options_.unplugAfter);
  return true;
}

bool TrackerRunner::Plug() {
  std::string error;
  // The console ignores a default folder that others could write to; a port registered there
  // would never be found, and nobody would be told why.
  if (defaultFolder_ && ports::MakePrivateFolder(options_.portsFolder)) {
    if (const std::string problem = ports::PrivateFolderProblem(options_.portsFolder);
        !problem.empty()) {
      Note("the ports folder is not private (" + problem +
           "), so the console would not look there; make it yours with mode 0700, or give "
           "--ports-folder");
      return false;
    }
  }
  if (!port_.Plug(options_.portsFolder, lastPortNumber_, &error)) {
    Note(error);
    return false;
  }
  lastPortNumber_ = port_.portNumber();
  decoder_.Reset();
  std::fprintf(out_, "tracker-sim: COM%d -> %s\n", port_.portNumber(), port_.slavePath().c_str());
  std::fflush(out_);
  return true;
}

// The console sees the link go away and its descriptor hang up, as when a cable is pulled.
void TrackerRunner::Unplug() {
  if (!port_.plugged()) return;
  const int number = port_.portNumber();
  port_.Unplug();
  queue_.clear();
  queuedBytes_ = 0;
  delayed_.clear();
  std::fprintf(out_, "tracker-sim: COM%d unplugged\n", number);
  std::fflush(out_);
}

void TrackerRunner::TogglePlug() {
  replugAt_.reset();
  if (port_.plugged()) {
    Unplug();
  } else if (!Plug()) {
    replugAt_ = Clock::now() + kReplugRetry;
  }
}

TrackerRunner::Clock::time_point TrackerRunner::NextDue() const {
  Clock::time_point due = Clock::now() + std::chrono::seconds(60);
  for (const auto& timer : {nextNmea_, nextStatus_, nextLogLine_, unplugAt_, replugAt_}) {
    if (timer) due = std::min(due, *timer);
  }
  for (const DelayedReply& reply : delayed_) due = std::min(due, reply.due);
  if (!queue_.empty() && writeReadyAt_ > Clock::now()) due = std::min(due, writeReadyAt_);
  return due;
}

void TrackerRunner::RunDueTimers(Clock::time_point now) {
  if (nextNmea_ && *nextNmea_ <= now) {
    // Keep the one-second cadence; after a stall, start afresh instead of catching up.
    *nextNmea_ += kNmeaPeriod;
    if (*nextNmea_ <= now) *nextNmea_ = now + kNmeaPeriod;
    TickNmea();
  }
  if (nextStatus_ && *nextStatus_ <= now) {
    *nextStatus_ = now + Seconds(options_.statusInterval);
    SendStatus();
  }
  if (nextLogLine_ && *nextLogLine_ <= now) {
    *nextLogLine_ = now + Seconds(options_.logInterval);
    SendLogLine();
  }
  if (unplugAt_ && *unplugAt_ <= now) {
    unplugAt_.reset();
    Unplug();
    if (options_.replugAfter >= 0) replugAt_ = now + Seconds(options_.replugAfter);
  }
  if (replugAt_ && *replugAt_ <= now) {
    replugAt_.reset();
    if (!port_.plugged() && !Plug()) replugAt_ = now + kReplugRetry;
  }
  std::vector<DelayedReply> due;
  auto notDue = std::stable_partition(delayed_.begin(), delayed_.end(),
                                      [now](const DelayedReply& r) { return r.due > now; });
  std::move(notDue, delayed_.end(), std::back_inserter(due));
  delayed_.erase(notDue, delayed_.end());
  for (const DelayedReply& reply : due) Send(reply.payload);
  if (options_.flood) TopUpFlood();
}

void TrackerRunner::TickNmea() {
  const std::vector<std::string> sentences = replay_ ? replay_->Next() : drive_.Tick(UtcNow());
  sky_ = CountSatellites(sentences);
  if (!options_.nmea) return;
  for (const std::string& sentence : sentences) Send(sentence);
}

void TrackerRunner::SendStatus() {
  const int signal = std::uniform_int_distribution<int>(17, 31)(random_);
  Send(TrackerModel::StatusReport(signal, sky_.inView, sky_.used));
}

// Plain lines the console only logs, so its log pane shows a live device.
void TrackerRunner::SendLogLine() {
  const int signal = std::uniform_int_distribution<int>(17, 31)(random_);
  const std::string lines[] = {
      "GSM: CSQ " + std::to_string(signal),
      "heartbeat",
      "GPS: " + std::to_string(sky_.used) + " of " + std::to_string(sky_.inView) +
          " satellites used",
  };
  Send(lines[logLineIndex_]);
  logLineIndex_ = (logLineIndex_ + 1) % 3;
}

void TrackerRunner::TopUpFlood() {
  if (!port_.plugged() || options_.silent || queuedBytes_ >= kFloodLowWater) return;
  for (int i = 0; i < kFloodBatch; ++i) Send("flood " + std::to_string(++floodCount_));
}

void TrackerRunner::ReadConsole() {
  std::uint8_t buffer[4096];
  const ssize_t count = read(port_.masterFd(), buffer, sizeof buffer);
  if (count < 0 && errno != EAGAIN && errno != EINTR) {
    Note("read: " + serial::ErrnoText(errno) + "; plugging in a new pseudo-terminal");
    Unplug();
    replugAt_ = Clock::now() + kReplugRetry;
    return;
  }
  if (count <= 0) return;
  decoder_.Feed(buffer, static_cast<std::size_t>(count),
                [this](std::string_view text) { OnConsoleText(text); });
  const long bad = decoder_.stats().badChecksums;
  if (bad != reportedBadChecksums_) {
    reportedBadChecksums_ = bad;
    Note("ignored a frame with a bad checksum (" + std::to_string(bad) + " so far)");
  }
}

void TrackerRunner::OnConsoleText(std::string_view text) {
  if (options_.verbose) Note("received \"" + std::string(text) + "\"");
  if (IsUnplugCommand(text)) {
    Note("unplugged on \"" + std::string(text) + "\"");
    options_.unplugOnKey.clear();  // once, as a person pulling the cable would
    Unplug();
    if (options_.replugAfter >= 0) replugAt_ = Clock::now() + Seconds(options_.replugAfter);
    return;
  }
  Answer answer = model_.AnswerText(text);
  if (!answer.problem.empty()) Note(answer.problem + ": \"" + std::string(text) + "\"");
  for (Reply& reply : answer.replies) {
    if (reply.delay.count() == 0) {
      Send(reply.payload);
    } else {
      delayed_.push_back({Clock::now() + reply.delay, std::move(reply.payload)});
    }
  }
}

// "AT+uart:<key>,..." or "AT+uart:<key>#" with the key --unplug-on names.
bool TrackerRunner::IsUnplugCommand(std::string_view text) const {
  const std::string& key = options_.unplugOnKey;
  constexpr std::string_view kPrefix = "AT+uart:";
  if (key.empty() || !text.starts_with(kPrefix)) return false;
  text.remove_prefix(kPrefix.size());
  return text.starts_with(key) && text.size() > key.size() &&
         (text[key.size()] == ',' || text[key.size()] == '#');
}

void TrackerRunner::Send(const std::string& payload) {
  if (options_.silent || !port_.plugged()) return;
  if (options_.verbose && !payload.starts_with('$')) Note("sending \"" + payload + "\"");
  ++framesSent_;
  const bool corrupt =
      options_.badChecksumEvery > 0 && framesSent_ % options_.badChecksumEvery == 0;
  std::optional<std::vector<std::uint8_t>> frame =
      EncodeDeviceFrame(payload, corrupt ? ChecksumMode::kCorrupt : ChecksumMode::kCorrect);
  if (!frame) {
    Note("cannot frame \"" + payload.substr(0, 40) + "\" (empty, NUL byte or too long)");
    return;
  }
  Enqueue(*frame);
}

void TrackerRunner::Enqueue(const std::vector<std::uint8_t>& frame) {
  OutFrame out;
  bool first = true;
  for (auto& piece : SplitAt(frame, options_.splitOffsets)) {
    out.pieces.push_back({std::move(piece), !first});
    first = false;
  }
  if (options_.garbage) out.pieces.push_back({LineNoise(random_), false});
  for (const Piece& piece : out.pieces) queuedBytes_ += piece.bytes.size();
  queue_.push_back(std::move(out));
  DropStaleFrames();
}

// A console that does not read (none connected, or slower than the frames come) must not make
// the queue grow without bound; whole frames are dropped, never part of one.
void TrackerRunner::DropStaleFrames() {
  while (queuedBytes_ > kQueueLimit && queue_.size() > 1) {
    const std::size_t victim = queue_.front().started() ? 1 : 0;
    for (const Piece& piece : queue_[victim].pieces) queuedBytes_ -= piece.bytes.size();
    queue_.erase(queue_.begin() + static_cast<long>(victim));
    if (droppedFrames_++ == 0) Note("the port is not read fast enough; dropping the oldest frames");
  }
}

bool TrackerRunner::WantsToWrite(Clock::time_point now) const {
  return port_.plugged() && !queue_.empty() && writeReadyAt_ <= now;
}

void TrackerRunner::WritePending(Clock::time_point now) {
  while (!queue_.empty() && writeReadyAt_ <= now) {
    OutFrame& frame = queue_.front();
    const Piece& piece = frame.pieces[frame.piece];
    const std::size_t left = piece.bytes.size() - frame.offset;
    const ssize_t written = write(port_.masterFd(), piece.bytes.data() + frame.offset, left);
    if (written <= 0) return;  // full: POLLOUT tells when to go on
    frame.offset += static_cast<std::size_t>(written);
    queuedBytes_ -= static_cast<std::size_t>(written);
    if (frame.offset < piece.bytes.size()) return;
    frame.offset = 0;
    if (++frame.piece == frame.pieces.size()) {
      queue_.pop_front();
    } else if (frame.pieces[frame.piece].pauseBefore) {
      // The pause lets the console's read end inside the frame.
      writeReadyAt_ = now + kSplitPause;
      return;
    }
  }
  if (queue_.empty() && droppedFrames_ > 0) {
    Note("the port is read again; " + std::to_string(droppedFrames_) + " frames were dropped");
    droppedFrames_ = 0;
  }
}

}  // namespace sim
