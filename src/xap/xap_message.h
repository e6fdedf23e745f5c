// One xAP message: builds the text of every message the program sends and
// holds every message it parses from the network. Scripts call the same
// operations, so their names are the ones scripts use.
//
// The text format: every line ends with one line feed; a message is a header
// block ("xap-header", "{", name=value lines, "}") followed by sections (a
// name line, "{", name=value lines, "}").
//
// A parse keeps one copy of the received text and describes its sections
// and items as spans into it. Names are found by comparing them one by one
// in a message of few sections and a section of few items (the usual
// datagram); beyond that, one open-addressing table finds a section by name
// and an item by section and name.
// A message of a datagram's usual size keeps all of it in the message's own
// buffer, so parsing allocates nothing per item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/fast_string.h"

namespace corvane {

class EventLog;

// Raised by MsgSection for a parse that registered exactly one section: the
// caller's own error handling applies.
class XapMessageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when two xAP addresses match: only the text before the first ":"
// counts, parts are compared ignoring letter case, "*" matches any one part
// and ">" matches the rest of the address from its position on.
bool CompareXapAddress(std::string_view a, std::string_view b);

class XapMessage;
class XapLineReader;

// The items of one parsed section, in arrival order. Keys are item names
// lower-cased with surrounding spaces removed; each item keeps its whole
// line as received. A view: valid while its message lives and is not parsed
// again.
class XapItemCollection {
 public:
  size_t Count() const { return end_ - begin_; }
  // The i-th item's key (lower-cased) and stored line.
  std::string Key(size_t i) const;
  std::string_view Line(size_t i) const;
  // The stored line of an item (key ignoring letter case), if any.
  std::optional<std::string_view> Find(std::string_view key) const;

 private:
  friend class XapMessage;
  XapItemCollection(const XapMessage& m, uint32_t section, uint32_t begin, uint32_t end)
      : msg_(&m), section_(section), begin_(begin), end_(end) {}
  const XapMessage* msg_;
  uint32_t section_;
  uint32_t begin_, end_;
};

class XapMessage {
 public:
  // `log` receives the error-log line of a faulty parse; none: not written.
  explicit XapMessage(EventLog* log = nullptr) : log_(log) {}
  XapMessage(const XapMessage&) = delete;
  XapMessage& operator=(const XapMessage&) = delete;
  ~XapMessage();

  // --- header fields (start value "Unknown") ---------------------------
  // A parsed value is a view into the message's copy of the text: valid
  // while the message lives (a later parse keeps the fields it does not set).
  std::string_view MsgClass() const { return class_.text; }
  std::string_view MsgSource() const { return source_.text; }
  std::string_view MsgTarget() const { return target_.text; }
  std::string_view MsgUID() const { return uid_.text; }
  void SetMsgClass(std::string v) { class_.Set(std::move(v)); }
  void SetMsgSource(std::string v) { source_.Set(std::move(v)); }
  void SetMsgTarget(std::string v) { target_.Set(std::move(v)); }
  void SetMsgUID(std::string v) { uid_.Set(std::move(v)); }

  // --- writing ------------------------------------------------------------
  // Empties the output text; the argument is not used.
  int Init(std::string_view sMessage = {});
  void Reset() {}
  // Appends the header block: xap-header, {, v=13, hop=1, uid=, class=,
  // source=, target= (only when MsgTarget is not empty), }.
  int AddHeader();
  // Closes the open section, if any, and opens `sSection`.
  int AddSection(std::string_view sSection);
  // Appends name=value to the section written last (`sSection` is not read).
  int AddItem(std::string_view sSection, std::string_view sItem, std::string_view sValue);
  // The output text with the open section closed.
  std::string ToXap() const;

  // --- reading --------------------------------------------------------------
  // Parses a received text into the header fields and sections. Lines are
  // split at line feeds only. A repeated section name, a repeated item name
  // within a section or a final "}" with nothing after it ends the parse
  // (one error-log line "From XAP"); what was taken before stays.
  int FromXap(std::string_view sRawMessage);
  // Everything after the first "=" of the item's stored line, spaces kept;
  // "Unknown" for a missing section or item.
  std::string GetItem(std::string_view sSection, std::string_view sItem) const;
  // The section names (lower-cased) in order, less the last registered one;
  // one empty name when none was registered. Throws XapMessageError when
  // exactly one section was registered.
  std::vector<std::string> MsgSection() const;
  // The items of section number `index`; nothing when there is none.
  std::optional<XapItemCollection> msgCollection(int16_t index) const;
  size_t SectionCount() const { return sections_.size(); }

  // --- matching -----------------------------------------------------------
  bool CompareAddress(std::string_view sItem1, std::string_view sItem2) const {
    return CompareXapAddress(sItem1, sItem2);
  }
  bool CompareSource(std::string_view sSource) const {
    return CompareXapAddress(sSource, source_.text);
  }
  bool CompareTarget(std::string_view sTarget) const {
    return CompareXapAddress(sTarget, target_.text);
  }
  // Equal ignoring letter case; no wildcards.
  bool CompareClass(std::string_view sClass) const;

 private:
  friend class XapItemCollection;
  struct Span {
    uint32_t pos = 0, len = 0;
  };
  // A header field: a view of the parsed value in the parse's copy of the
  // text (no copy per message), or a value of its own (start value, set).
  struct Field {
    std::string_view text = "Unknown";
    std::string own;
    bool parsed = false;
    void Set(std::string v) {
      own = std::move(v);
      text = own;
      parsed = false;
    }
    // Before the copy of the text is replaced by another parse's.
    void KeepParsed() {
      if (parsed) Set(std::string(text));
    }
  };
  struct Item {
    Span key;  // trimmed name, letter case as received
    Span line;
    uint32_t hash;  // of the name ignoring letter case, mixed with the section number
  };
  struct Section {
    Span name;
    uint32_t hash;
    uint32_t begin, end;  // its items in items_
  };
  // What the parse keeps inside the message before it needs the heap: a
  // datagram of about 1 KiB with its sections, items and table.
  static constexpr size_t kInlineBytes = 3072;
  // A run of records in the parse's block, sized from the text before the
  // parse starts, so that it never grows.
  template <typename T>
  struct Run {
    T* data = nullptr;
    size_t count = 0;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](size_t i) { return data[i]; }
    const T& operator[](size_t i) const { return data[i]; }
    const T& at(size_t i) const {
      if (i >= count) throw std::out_of_range("XapItemCollection: no such item");
      return data[i];
    }
    T& back() { return data[count - 1]; }
    void push_back(const T& v) { data[count++] = v; }
  };

  // Spans are made by the parse and always lie inside the text.
  std::string_view View(Span s) const { return std::string_view(raw_.data() + s.pos, s.len); }
  void StartParse(std::string_view text);
  size_t SectionSlot(std::string_view name, uint32_t hash) const;
  size_t ItemSlot(uint32_t section_no, std::string_view key, uint32_t hash) const;
  int FindSection(std::string_view name) const;
  int64_t FindItem(uint32_t section_no, std::string_view key) const;
  void UseTable();
  void IndexSections();
  void IndexItems(uint32_t section_no);
  bool RegisterSection(Span name);
  void ReadSections(XapLineReader& lines);
  bool ReadItems(XapLineReader& lines);
  void HeaderField(std::string_view name, std::string_view value);
  void Fault(std::string_view description) const;

  EventLog* log_;
  Field class_, source_, target_, uid_;

  FastString out_;
  bool section_open_ = false;

  // The parse's block: items, sections, the table and the copy of the text,
  // in the message's own bytes when they fit.
  alignas(std::max_align_t) std::byte inline_[kInlineBytes];
  std::unique_ptr<std::byte[]> heap_;
  size_t heap_size_ = 0;
  std::string_view raw_;
  Run<Item> items_;
  Run<Section> sections_;
  // Open addressing over sections and items: 0 free, else 1 + the index,
  // with kSectionSlot set for a section; less than half full. It holds the
  // sections once there are more than kScanAtMost, and the items of each
  // section that has more than kScanAtMost.
  Run<uint32_t> slots_;
  bool table_ready_ = false;  // cleared for this parse
  mutable int last_section_ = -1;  // the section found last
};

}  // namespace corvane
