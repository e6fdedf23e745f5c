// The receiver of every xAP datagram the program takes from the receive
// queue: the inbound handler implements it; until one is installed the
// program ignores what it receives.
#pragma once

#include <string>

namespace corvane {

class XapMessageHandler {
 public:
  virtual ~XapMessageHandler() = default;
  // Handles one received datagram text.
  virtual void Readmessage(const std::string& text) = 0;
};

class IgnoreXapMessages final : public XapMessageHandler {
 public:
  void Readmessage(const std::string&) override {}
};

}  // namespace corvane
