#include "ui/setup_form.h"

#include <stdexcept>

namespace corvane {

const std::array<std::string_view, SetupForm::kBoxes>& SetupForm::Captions() {
  // Boxes 7 to 12 keep these captions although the keys they edit are
  // showsetup .. showreceivemessages: users know the form by them, and the
  // pairing of box and key is what the settings file relies on.
  static const std::array<std::string_view, kBoxes> kCaptions = {
      "Vaux Comm Port",     "Comm IP",          "HTTP Server Port",
      "Debug",              "Background Color", "Style Sheet",
      "xAP UID",            "Show Only Used",   "Show Only Status",
      "Show Received Detail", "Periodic Script Interval ", "Input List ",
      "Up/Down Increment",
  };
  return kCaptions;
}

SetupForm::SetupForm(std::vector<std::string> keys, std::vector<std::string> form_defaults)
    : keys_(std::move(keys)), defaults_(std::move(form_defaults)) {
  if (keys_.size() < kBoxes || defaults_.size() < kBoxes) {
    throw std::invalid_argument("SetupForm: the key list needs 13 keys and 13 defaults");
  }
  keys_.resize(kBoxes);
  defaults_.resize(kBoxes);
}

SetupForm::Boxes SetupForm::Load(const Reader& read) const {
  Boxes boxes;
  for (size_t i = 0; i < kBoxes; ++i) boxes[i] = read(keys_[i], defaults_[i]);
  return boxes;
}

bool SetupForm::Unload(const Boxes& boxes, std::string_view port_in_use,
                       const Writer& write) const {
  for (size_t i = 0; i < kBoxes; ++i) write(keys_[i], boxes[i]);
  return boxes[0] != port_in_use;
}

}  // namespace corvane
