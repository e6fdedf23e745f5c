// The Dictionary, GetRef's procedure references, and what the built-in
// objects share: creating one by ProgID, For Each over a list of values, and
// releasing engine-made objects when the engine goes away. Dictionary keeps
// its entries in the order they were added (entries_, in blocks that never
// move) and finds them through an open-addressing table of four-byte entry
// indexes (table_), so For Each and Keys give insertion order and a removal
// keeps the others in place.
#include "vbscript/objects.h"

#include <bit>
#include <cstring>
#include <memory>

#include "core/text.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

Value ProcRef::Invoke(int id, InvokeKind kind, CallArgs& args) {
  (void)kind;
  if (id != kDefaultMember) Throw(kErrNoMember);
  if (!proc_ || !vm_) Throw(kErrObjectNotSet);
  std::shared_ptr<Proc> keep = proc_;
  return vm_->RunProc(keep.get(), Value(), args.raw(), args.size());
}

Value ApplyToDefault(Value result, CallArgs& args) {
  if (args.size() == 0) return result;
  const Value& r = result.Deref();
  if (r.tag() == Tag::kArray) return ArrayElement(r.arr(), args.raw(), args.size());
  if (r.tag() != Tag::kObject) Throw(kErrWrongArgs);
  Ref<Object> o(r.obj());
  return o->Invoke(kDefaultMember, InvokeKind::kGet, args);
}

namespace {

class ValueEnum : public Enumerator {
 public:
  explicit ValueEnum(std::vector<Value> items) : items_(std::move(items)) {}
  bool Next(Value& out) override {
    if (i_ >= items_.size()) return false;
    out = std::move(items_[i_++]);
    return true;
  }

 private:
  std::vector<Value> items_;
  size_t i_ = 0;
};

// A list that grows without moving its elements: block k holds 8 << k of
// them, so element i's place follows from its bits, and growing a large
// list adds one block instead of copying every element into fresh memory.
template <typename T>
class StableList {
 public:
  StableList() = default;
  StableList(const StableList&) = delete;
  StableList& operator=(const StableList&) = delete;
  ~StableList() {
    Truncate(0);
    for (size_t b = 0; b < blocks_.size(); ++b) std::allocator<T>().deallocate(blocks_[b], kFirst << b);
  }
  size_t size() const { return size_; }
  T& operator[](size_t i) {
    size_t j = i + kFirst;
    int b = std::bit_width(j) - 1;
    return blocks_[static_cast<size_t>(b) - kFirstBits][j - (size_t{1} << b)];
  }
  const T& operator[](size_t i) const { return const_cast<StableList&>(*this)[i]; }
  void PushBack(T&& v) {
    if (size_ + kFirst == kFirst << blocks_.size()) {
      blocks_.reserve(blocks_.size() + 1);
      blocks_.push_back(std::allocator<T>().allocate(kFirst << blocks_.size()));
    }
    std::construct_at(&(*this)[size_], std::move(v));
    ++size_;
  }
  // Destroys the elements from `n` on; the blocks stay for reuse.
  void Truncate(size_t n) {
    while (size_ > n) std::destroy_at(&(*this)[--size_]);
  }
  void Swap(StableList& o) noexcept {
    blocks_.swap(o.blocks_);
    std::swap(size_, o.size_);
  }

 private:
  static constexpr size_t kFirstBits = 3;
  static constexpr size_t kFirst = size_t{1} << kFirstBits;
  std::vector<T*> blocks_;
  size_t size_ = 0;
};

// ------------------------------------------------------------ Dictionary

class Dictionary : public BuiltinObject<Dictionary> {
 public:
  explicit Dictionary(Vm* vm) : BuiltinObject(vm, kMembers) {}
  std::string TypeName() const override { return "Dictionary"; }
  std::unique_ptr<Enumerator> NewEnum() override { return EnumerateValues(LiveKeys()); }
  void ClearReferences() override {
    StableList<Entry> old;
    old.Swap(entries_);
    table_.clear();
    live_ = 0;
  }

 private:
  static const MemberTable<Dictionary> kMembers;

  // --- Members.
  Value Add(InvokeKind, CallArgs& a) {
    Need(a, 2);
    uint64_t h = Hash(a[0]);
    if (Find(a[0], h) >= 0) Throw(kErrKeyExists);
    Insert(a[0], a[1], h);
    return Value();
  }
  Value Exists(InvokeKind, CallArgs& a) {
    Need(a, 1);
    return Value::Bool(Find(a[0]) >= 0);
  }
  // Item(key) [= value]
  Value Item(InvokeKind kind, CallArgs& a) {
    if (IsAssignment(kind)) {
      Need(a, 2);
      int i = Find(a[0]);
      Value v = a[1];
      if (i < 0) {
        Insert(a[0], std::move(v));
      } else {
        entries_[static_cast<size_t>(i)].value = std::move(v);
      }
      return Value();
    }
    Need(a, 1);
    int i = Find(a[0]);
    if (i < 0) {
      // Reading a missing key adds it, as Windows does.
      Insert(a[0], Value());
      return Value();
    }
    return entries_[static_cast<size_t>(i)].value;
  }
  Value Items(InvokeKind, CallArgs&) {
    std::vector<Value> items;
    items.reserve(live_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].hash != kRemoved) items.push_back(entries_[i].value);
    }
    return ArrayFromValues(std::move(items));
  }
  // Key(old) = new
  Value Key(InvokeKind kind, CallArgs& a) {
    if (!IsAssignment(kind)) Throw(kErrIllegalAssign);
    Need(a, 2);
    int i = Find(a[0]);
    if (i < 0) Throw(kErrElementNotFound);
    if (Find(a[1]) >= 0) Throw(kErrKeyExists);
    const Value& nk = a[1];
    if (nk.tag() == Tag::kArray) Throw(kErrTypeMismatch);
    // The entry keeps its place in the order.
    Entry& e = entries_[static_cast<size_t>(i)];
    Unplace(static_cast<size_t>(i));
    e.key = nk;
    e.hash = Hash(nk);
    Place(static_cast<size_t>(i), e.hash);
    return Value();
  }
  Value Keys(InvokeKind, CallArgs&) { return ArrayFromValues(LiveKeys()); }
  Value Remove(InvokeKind, CallArgs& a) {
    Need(a, 1);
    int i = Find(a[0]);
    if (i < 0) Throw(kErrElementNotFound);
    Erase(i);
    return Value();
  }
  Value RemoveAll(InvokeKind, CallArgs&) {
    ClearReferences();
    return Value();
  }
  Value Count(InvokeKind, CallArgs&) { return Value::Long(static_cast<int32_t>(live_)); }
  Value CompareMode(InvokeKind kind, CallArgs& a) {
    if (!IsAssignment(kind)) return Value::Long(compare_mode_);
    if (live_ > 0) Throw(kErrInvalidCall);
    int32_t m = ToLong(a[a.size() - 1]);
    if (m < 0) Throw(kErrInvalidCall);
    text_mode_ = m == 1;
    compare_mode_ = m;
    return Value();
  }
  Value HashVal(InvokeKind, CallArgs& a) {
    Need(a, 1);
    return Value::Long(static_cast<int32_t>(Hash(a[0]) & 0x7FFFFFF));
  }

  // --- Storage: the entries in the order they were added, found through an
  // open-addressing table of their indexes.
  struct Entry {
    Value key;
    Value value;
    uint64_t hash;  // kRemoved once the entry is removed
  };
  // Every key's hash has the top bit set, so 0 is free to mark removal.
  static constexpr uint64_t kLive = uint64_t{1} << 63;
  static constexpr uint64_t kRemoved = 0;

  std::vector<Value> LiveKeys() const {
    std::vector<Value> keys;
    keys.reserve(live_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].hash != kRemoved) keys.push_back(entries_[i].key);
    }
    return keys;
  }

  static void Need(CallArgs& a, int n) {
    if (a.size() < n) Throw(kErrArgNotOptional);
  }

  // The table indexes by the low bits, so every hash goes through a full
  // 64-bit mix.
  static uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return h;
  }

  uint64_t Hash(const Value& k0) const {
    const Value& k = k0.Deref();
    switch (k.tag()) {
      case Tag::kString:
        return HashText(k.str_obj()) | kLive;
      case Tag::kObject:
        return Mix(reinterpret_cast<uintptr_t>(k.obj())) | kLive;
      case Tag::kNothing:
        return 7 | kLive;
      case Tag::kEmpty:
      case Tag::kNull:
        return static_cast<uint64_t>(k.tag()) | kLive;
      case Tag::kArray:
        Throw(kErrTypeMismatch);
      default: {
        double d = ToDouble(k);
        if (d == 0) d = 0;  // -0 and 0 are one key
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return Mix(bits) | kLive;
      }
    }
  }

  // Eight bytes at a time. In text mode letters count as lower case: ASCII
  // ones by a mask over the word, others through LowerText, the folding
  // CompareText uses, so keys that compare equal hash alike.
  uint64_t HashText(StrObj* s) const {
    if (text_mode_ && !s->IsAscii()) {
      std::string lower = LowerText(s->text);
      return HashBytes(lower, false);
    }
    return HashBytes(s->text, text_mode_);
  }

  static uint64_t HashBytes(std::string_view t, bool fold) {
    const auto lower = [fold](uint64_t w) -> uint64_t {
      if (!fold) return w;
      // Bytes are below 0x80 here, so the sums never carry between bytes:
      // 0x80 ends up set in the bytes 'A' (0x41) to 'Z' (0x5A).
      uint64_t upper = (w + 0x3F3F3F3F3F3F3F3FULL) & ~(w + 0x2525252525252525ULL);
      return w | ((upper & 0x8080808080808080ULL) >> 2);
    };
    uint64_t h = t.size() * 0x9E3779B97F4A7C15ULL;
    size_t i = 0;
    for (; i + 8 <= t.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, t.data() + i, sizeof w);
      h = (h ^ lower(w)) * 0xFF51AFD7ED558CCDULL;
      h ^= h >> 32;
    }
    uint64_t tail = 0;
    for (size_t j = 0; i + j < t.size(); ++j) {
      tail |= uint64_t{static_cast<unsigned char>(t[i + j])} << (8 * j);
    }
    return Mix(h ^ lower(tail));
  }

  int Find(const Value& key) const { return table_.empty() ? -1 : Find(key, Hash(key)); }

  int Find(const Value& key, uint64_t h) const {
    if (table_.empty()) return -1;
    size_t mask = table_.size() - 1;
    uint32_t tag = TagOf(h);
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      uint32_t slot = table_[i];
      if (slot == kFree) return -1;
      // The tag spares a visit to the entries (a cache miss in a large
      // dictionary) for most slots that hold another key.
      if ((slot & ~index_mask_) == tag && (slot & index_mask_) != 0) {
        size_t e = (slot & index_mask_) - 1;
        const Entry& en = entries_[e];
        if (en.hash == h && KeyMatches(en.key, key)) return static_cast<int>(e);
      }
    }
  }

  // Texts compared in binary mode are equal byte for byte; the rest go
  // through the rules SameKey holds.
  bool KeyMatches(const Value& stored, const Value& key0) const {
    const Value& key = key0.Deref();
    if (!text_mode_ && stored.tag() == Tag::kString && key.tag() == Tag::kString) {
      return stored.text() == key.text();
    }
    return SameKey(stored, key, text_mode_);
  }

  void Insert(const Value& key0, Value value) { Insert(key0, std::move(value), Hash(key0)); }

  void Insert(const Value& key0, Value value, uint64_t h) {
    const Value& key = key0.Deref();
    if (key.tag() == Tag::kArray) Throw(kErrTypeMismatch);
    if ((entries_.size() + 1) * 4 > table_.size() * 3) Rehash();
    entries_.PushBack(Entry{key, std::move(value), h});
    ++live_;
    Place(entries_.size() - 1, h);
  }

  void Place(size_t index, uint64_t h) {
    size_t mask = table_.size() - 1;
    size_t i = h & mask;
    while ((table_[i] & index_mask_) != 0) i = (i + 1) & mask;
    table_[i] = TagOf(h) | static_cast<uint32_t>(index + 1);
  }

  void Unplace(size_t index) {
    size_t mask = table_.size() - 1;
    for (size_t i = entries_[index].hash & mask;; i = (i + 1) & mask) {
      if ((table_[i] & index_mask_) == index + 1) {
        table_[i] = kDeleted;
        return;
      }
    }
  }

  void Erase(int index) {
    Unplace(static_cast<size_t>(index));
    Entry& e = entries_[static_cast<size_t>(index)];
    Value k = std::move(e.key), v = std::move(e.value);
    e.hash = kRemoved;
    --live_;
    if (live_ == 0) {
      entries_.Truncate(0);
      std::fill(table_.begin(), table_.end(), kFree);
    }
  }

  void Rehash() {
    // Drop removed entries (in place), then size the table for the entries.
    if (live_ < entries_.size()) {
      size_t out = 0;
      for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].hash == kRemoved) continue;
        if (out != i) entries_[out] = std::move(entries_[i]);
        ++out;
      }
      entries_.Truncate(out);
    }
    size_t want = 16;
    while (want < (entries_.size() + 1) * 2) want *= 2;
    if (want > (size_t{1} << 31)) Throw(kErrOutOfMemory);
    table_.assign(want, kFree);
    index_mask_ = static_cast<uint32_t>(want - 1);
    for (size_t i = 0; i < entries_.size(); ++i) Place(i, entries_[i].hash);
  }

  StableList<Entry> entries_;
  // A table slot holds its entry's index + 1 in the bits below the table's
  // size (the table has room for more than all entries) and bits of the
  // upper half of the entry's hash above them as a tag. A free slot is 0; a
  // removed entry's slot has only the top bit set.
  static constexpr uint32_t kFree = 0;
  static constexpr uint32_t kDeleted = uint32_t{1} << 31;
  uint32_t TagOf(uint64_t h) const { return static_cast<uint32_t>(h >> 32) & ~index_mask_; }
  std::vector<uint32_t> table_;
  uint32_t index_mask_ = 0;
  size_t live_ = 0;
  bool text_mode_ = false;
  int32_t compare_mode_ = 0;
};

const MemberTable<Dictionary> Dictionary::kMembers(
    {
        {"Add", &Dictionary::Add},
        {"Exists", &Dictionary::Exists},
        {"Item", &Dictionary::Item},
        {"Items", &Dictionary::Items},
        {"Key", &Dictionary::Key},
        {"Keys", &Dictionary::Keys},
        {"Remove", &Dictionary::Remove},
        {"RemoveAll", &Dictionary::RemoveAll},
        {"Count", &Dictionary::Count},
        {"CompareMode", &Dictionary::CompareMode},
        {"HashVal", &Dictionary::HashVal},
    },
    "Item");

}  // namespace

std::unique_ptr<Enumerator> EnumerateValues(std::vector<Value> items) {
  return std::make_unique<ValueEnum>(std::move(items));
}

Value NewDictionary(Vm& vm) {
  return Value::Obj(new Dictionary(&vm));
}

Value CreateBuiltinObject(Vm& vm, std::string_view prog_id) {
  if (EqualsIgnoreCase(prog_id, "Scripting.Dictionary")) return NewDictionary(vm);
  bool system = vm.options().allow_system_objects;
  if (system && EqualsIgnoreCase(prog_id, "Scripting.FileSystemObject")) {
    return NewFileSystemObject(vm);
  }
  if (EqualsIgnoreCase(prog_id, "VBScript.RegExp")) return NewRegExp(vm);
  if (system && EqualsIgnoreCase(prog_id, "WScript.Shell")) return NewShell(vm);
  return Value();
}

void Vm::ReleaseTrackedObjects() {
  std::vector<TrackedObject*> live(tracked_.begin(), tracked_.end());
  for (TrackedObject* o : live) o->AddRef();
  for (TrackedObject* o : live) o->ClearReferences();
  for (TrackedObject* o : live) {
    o->Detach();
    tracked_.erase(o);
  }
  for (TrackedObject* o : live) o->Release();
  tracked_.clear();
}

}  // namespace corvane::vbs
