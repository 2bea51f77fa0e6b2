#pragma once
// The far end of a serial port: a raw pseudo-terminal master; the code under test opens the
// slave, directly or through a link <portsFolder>/COM<n>.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class PtyPeer {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

  PtyPeer();  // opens a master; ok() tells whether that worked
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  [[nodiscard]] bool ok() const { return master_ >= 0; }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  [[nodiscard]] int MasterFd() const { return master_; }
  [[nodiscard]] const std::string& LinkPath() const { return linkPath_; }  // empty: none

  // Links <portsFolder>/COM<portNumber> to the slave, creating the folder and
  // replacing a link of that name. False on failure.
  bool RegisterAsPort(const std::string& portsFolder, int portNumber);
  // Removes the link (an unplug as the console's folder watch sees it).
  void Unregister();

  // Writes every byte, waiting for room up to `timeout`. False when not all were written.
  bool Write(std::string_view bytes, std::chrono::milliseconds timeout = kDefaultTimeout);
  // Reads until `count` bytes have arrived or `timeout` has passed; returns what arrived.
  std::string ReadExactly(std::size_t count, std::chrono::milliseconds timeout = kDefaultTimeout);
  // Reads until nothing has arrived for `quiet`; returns what arrived.
  std::string ReadUntilQuiet(std::chrono::milliseconds quiet);

  // The device is pulled out: the master is closed (the slave is hung up) and the link goes.
  void HangUp();
  // A new pseudo-terminal in place of the old one, linked under the same number if the old
  // one was registered. False when it could not be made.
  bool Recreate();

 private:
  bool OpenMaster();
  // Reads what is there, waiting for it at most until `deadline`. False on timeout.
  bool ReadSome(std::string* into, std::size_t limit,
                std::chrono::steady_clock::time_point deadline);

  int master_ = -1;
  std::string slavePath_;
  std::string portsFolder_;
  int portNumber_ = 0;
  std::string linkPath_;
};
