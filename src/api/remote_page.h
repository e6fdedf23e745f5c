// The phone remote at /remote: one self-contained page (no outside files, so
// it works in a house without internet) that shows a card per used zone and
// the saved scenes, commands through the JSON API and follows its event
// stream. It answers refusals as the API does (a login under page security).
#pragma once

#include "web/page_handler.h"

namespace corvane {

class ApiModule;

class RemotePage final : public PageHandler {
 public:
  explicit RemotePage(ApiModule& api) : api_(api) {}
  void ServePage(Request& request, Response& response, int index) override;

 private:
  ApiModule& api_;
};

}  // namespace corvane
