// The desktop setup form ("UPB Setup") apart from any toolkit: 13 boxes,
// box i bound to entry i of the settings key list, with the captions shown
// beside them. Load fills the boxes from the settings store (a missing key
// shows the form default); Unload saves every box as it stands and says
// whether the controller port (box 0) changed, because only then is the
// port closed and opened again.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class SetupForm {
 public:
  static constexpr size_t kBoxes = 13;
  static constexpr std::string_view kCaption = "UPB Setup";
  using Boxes = std::array<std::string, kBoxes>;
  // Reads a key of section Vaux with a default; writes a key.
  using Reader = std::function<std::string(std::string_view key, std::string_view default_value)>;
  using Writer = std::function<void(std::string_view key, std::string_view value)>;

  // The captions beside the boxes, from the top; box 10 has a second label.
  static const std::array<std::string_view, kBoxes>& Captions();
  static constexpr std::string_view kIntervalUnit = "seconds";

  // `keys` and `form_defaults` are the settings key list and its form
  // defaults; the first 13 entries are used. Shorter lists are an error.
  SetupForm(std::vector<std::string> keys, std::vector<std::string> form_defaults);

  Boxes Load(const Reader& read) const;
  // Saves the 13 boxes; true when box 0 differs from the port in use.
  bool Unload(const Boxes& boxes, std::string_view port_in_use, const Writer& write) const;

  const std::string& Key(size_t box) const { return keys_.at(box); }

 private:
  std::vector<std::string> keys_;
  std::vector<std::string> defaults_;
};

}  // namespace corvane
