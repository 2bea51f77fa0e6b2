#pragma once
// The tracker's end of the line: a pseudo-terminal whose slave side is registered as a
// virtual port (a COM<n> link in the console's ports folder). Closing it is an unplug.

#include <string>

namespace sim {

class VirtualPort {
 public:
  VirtualPort() = default;
  ~VirtualPort();
  VirtualPort(const VirtualPort&) = delete;
  VirtualPort& operator=(const VirtualPort&) = delete;

  // Opens a new pseudo-terminal and registers it (COM`preferred` when free). Returns false
  // with *error set; nothing stays open then.
  bool Plug(const std::string& portsFolder, int preferred, std::string* error);
  // Unregisters and closes both sides: the console's open descriptor sees a hang-up.
  void Unplug();

  [[nodiscard]] bool plugged() const { return master_ >= 0; }
  [[nodiscard]] int masterFd() const { return master_; }
  [[nodiscard]] int portNumber() const { return portNumber_; }
  [[nodiscard]] const std::string& slavePath() const { return slavePath_; }

 private:
  bool OpenPty(std::string* error);
  void ClosePty();

  int master_ = -1;
  // Held open so the master sees no hang-up while no console has the port open.
  int slave_ = -1;
  std::string slavePath_;
  std::string portsFolder_;
  int portNumber_ = 0;
};

}  // namespace sim
