#pragma once
// What a production sequence needs to follow the console's link: the tracker's port coming and
// going, and each reply as the parser got it. Called on the UI thread, from inside the
// receive handler for replies; an observer must neither block nor open a box.

#include <string>

class LogicObserver {
 public:
  virtual ~LogicObserver() = default;
  // A port was opened and its device has answered as a tracker does (also when a rescan
  // reopened the same port). A port that keeps silent never comes up.
  virtual void OnLinkUp(const std::string& utf8PortName, const std::string& utf8UsbIdentity) = 0;
  // The tracker's port is gone, or a scan ended without one.
  virtual void OnLinkDown() = 0;
  // One reply after "AT+uart:", with the receive decoder's appended line end.
  virtual void OnReply(const char* reply) = 0;
};
