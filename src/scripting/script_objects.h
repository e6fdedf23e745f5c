// The small objects the Application object hands to scripts: a keyed list
// of texts (a device record's items: Item, Count, Exists, Keys, Items, For
// Each over the keys), a list of texts (Count, Item from 1, For Each), and a
// received xAP message with the operations scripts call on it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vbscript/engine.h"

namespace corvane {

class XapMessage;

using KeyedTexts = std::vector<std::pair<std::string, std::string>>;

vbs::Value MakeKeyedList(KeyedTexts items);
vbs::Value MakeTextList(std::vector<std::string> items);
vbs::Value MakeXapMessageObject(std::shared_ptr<const XapMessage> message);

// The text of an argument: "" when it is missing; Null reads as "".
std::string ArgText(vbs::CallArgs& a, int i);
// Throws "Wrong number of arguments" unless min <= count <= max.
void CheckArgCount(vbs::CallArgs& a, int min, int max);

}  // namespace corvane
