// The Variant every VBScript value is: a 16-byte tagged value. Numbers live
// inline; texts, arrays and objects are reference counted. Arrays have value
// semantics (copy on write); texts are immutable except when a variable holds
// the only reference, which lets `s = s & x` append in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::vbs {

class Object;
struct ArrayObj;

enum class Tag : uint8_t {
  kEmpty,
  kNull,
  kBoolean,
  kByte,
  kInteger,
  kLong,
  kSingle,
  kDouble,
  kCurrency,  // 64-bit integer scaled by 10000
  kDate,
  kError,    // an SCODE; the missing optional argument is DISP_E_PARAMNOTFOUND
  kNothing,  // an object variable that refers to no object
  kRef,      // internal: a ByRef argument, pointing at the caller's variable
  // Tags from here on hold a counted reference.
  kString = 0x40,
  kObject,
  kArray,
  kRefElem,  // internal: a ByRef argument naming one element of a locked array
};

// The COM VARTYPE numbers VarType() reports.
enum VarTypeCode : int {
  kVtEmpty = 0,
  kVtNull = 1,
  kVtInteger = 2,
  kVtLong = 3,
  kVtSingle = 4,
  kVtDouble = 5,
  kVtCurrency = 6,
  kVtDate = 7,
  kVtString = 8,
  kVtObject = 9,
  kVtError = 10,
  kVtBoolean = 11,
  kVtVariant = 12,
  kVtByte = 17,
  kVtArray = 8192,
};

constexpr int32_t kParamNotFound = static_cast<int32_t>(0x80020004);

// A counted text. `ascii` caches whether every byte is below 0x80, which makes
// character positions equal byte positions.
struct StrObj {
  uint32_t refs = 1;
  int8_t ascii = -1;  // -1 not known yet
  std::string text;
  explicit StrObj(std::string t) : text(std::move(t)) {}
  explicit StrObj(std::string_view t) : text(t) {}
  bool IsAscii() { return ascii >= 0 ? ascii == 1 : ScanAscii(); }
  bool ScanAscii();
  // Texts come and go by the million in string-handling scripts (a Split's
  // pieces, each Mid): their blocks are kept for reuse per thread.
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;
};

class Value {
 public:
  Value() { u_.i = 0; }
  ~Value() {
    if (IsCounted()) DropRef();
  }
  Value(const Value& o) : tag_(o.tag_), aux_(o.aux_), u_(o.u_) {
    if (IsCounted()) AddRef();
  }
  Value(Value&& o) noexcept : tag_(o.tag_), aux_(o.aux_), u_(o.u_) {
    o.tag_ = Tag::kEmpty;
    o.u_.i = 0;
  }
  // Numbers and other uncounted values are copied as they are: the loop's
  // loads and stores take this path.
  [[gnu::always_inline]] Value& operator=(const Value& o) {
    if (!IsCounted()) {
      if (o.IsCounted()) o.AddRef();
      tag_ = o.tag_;
      aux_ = o.aux_;
      u_ = o.u_;
    } else {
      AssignSlow(o);
    }
    return *this;
  }
  [[gnu::always_inline]] Value& operator=(Value&& o) noexcept {
    if (!IsCounted()) {
      // Read before clearing, so that moving a value onto itself keeps it.
      Tag t = o.tag_;
      uint32_t x = o.aux_;
      U u = o.u_;
      o.tag_ = Tag::kEmpty;
      o.u_.i = 0;
      tag_ = t;
      aux_ = x;
      u_ = u;
    } else {
      MoveAssignSlow(std::move(o));
    }
    return *this;
  }
  // Makes this Empty value a copy of `o`, counting a text in place: the
  // interpreter's loads, which copy texts more than anything else.
  [[gnu::always_inline]] void CopyIntoEmpty(const Value& o) {
    tag_ = o.tag_;
    aux_ = o.aux_;
    u_ = o.u_;
    if (tag_ == Tag::kString) {
      ++u_.s->refs;
    } else if (IsCounted()) {
      AddRef();
    }
  }
  // Empties the value; a text others still hold is uncounted in place.
  [[gnu::always_inline]] void Reset() {
    if (tag_ == Tag::kString && u_.s->refs > 1) {
      --u_.s->refs;
    } else if (IsCounted()) {
      Value old(std::move(*this));
      return;
    }
    tag_ = Tag::kEmpty;
    u_.i = 0;
  }
  void Swap(Value& o) noexcept {
    std::swap(tag_, o.tag_);
    std::swap(aux_, o.aux_);
    std::swap(u_, o.u_);
  }

  static Value Null() { return Make(Tag::kNull); }
  static Value Nothing() { return Make(Tag::kNothing); }
  static Value Bool(bool b) { return MakeInt(Tag::kBoolean, b ? -1 : 0); }
  static Value Byte(uint8_t b) { return MakeInt(Tag::kByte, b); }
  static Value Integer(int16_t n) { return MakeInt(Tag::kInteger, n); }
  static Value Long(int32_t n) { return MakeInt(Tag::kLong, n); }
  static Value Single(float f) { return MakeDouble(Tag::kSingle, f); }
  static Value Double(double d) { return MakeDouble(Tag::kDouble, d); }
  static Value Currency(int64_t scaled) { return MakeInt(Tag::kCurrency, scaled); }
  static Value Date(double d) { return MakeDouble(Tag::kDate, d); }
  static Value Error(int32_t scode) { return MakeInt(Tag::kError, scode); }
  static Value Missing() { return Error(kParamNotFound); }
  static Value Str(std::string s);
  static Value Str(std::string_view s) {
    Value v = Make(Tag::kString);
    v.u_.s = new StrObj(s);
    return v;
  }
  static Value Str(const char* s) { return Str(std::string_view(s)); }
  static Value Str(StrObj* s) {  // takes a new reference
    ++s->refs;
    Value v = Make(Tag::kString);
    v.u_.s = s;
    return v;
  }
  // Takes a new reference; a null object gives Nothing.
  static Value Obj(Object* o);
  static Value Arr(ArrayObj* a);  // takes a new reference
  static Value RefTo(Value* target) {
    Value v = Make(Tag::kRef);
    v.u_.ref = target;
    return v;
  }
  static Value RefElem(ArrayObj* a, uint32_t index);  // locks the array

  Tag tag() const { return tag_; }
  bool IsCounted() const { return tag_ >= Tag::kString; }
  bool IsEmpty() const { return tag_ == Tag::kEmpty; }
  bool IsNull() const { return tag_ == Tag::kNull; }
  bool IsString() const { return tag_ == Tag::kString; }
  bool IsObject() const { return tag_ == Tag::kObject; }
  bool IsObjectOrNothing() const { return tag_ == Tag::kObject || tag_ == Tag::kNothing; }
  bool IsArray() const { return tag_ == Tag::kArray; }
  bool IsRef() const { return tag_ == Tag::kRef || tag_ == Tag::kRefElem; }
  bool IsMissing() const { return tag_ == Tag::kError && u_.i == kParamNotFound; }
  bool IsNumericTag() const { return tag_ >= Tag::kBoolean && tag_ <= Tag::kDate; }

  // Raw payloads; the caller has checked the tag.
  int64_t raw_int() const { return u_.i; }
  double raw_double() const { return u_.d; }
  bool raw_bool() const { return u_.i != 0; }
  StrObj* str_obj() const { return u_.s; }
  const std::string& text() const { return u_.s->text; }
  Object* obj() const { return u_.o; }
  ArrayObj* arr() const { return u_.a; }
  Value* ref() const { return u_.ref; }
  uint32_t aux() const { return aux_; }

  // The value a ByRef argument stands for (the value itself otherwise).
  const Value& Deref() const;
  Value& DerefMut();

  // For the in-place append: the text of a string this value holds alone.
  std::string* UniqueText() {
    return (tag_ == Tag::kString && u_.s->refs == 1) ? (u_.s->ascii = -1, &u_.s->text) : nullptr;
  }
  // Overwrites the numeric payload of an Integer/Long/Double in place.
  void SetRawInt(Tag t, int64_t n) {
    if (IsCounted()) DropRef();
    tag_ = t;
    u_.i = n;
  }
  void SetRawDouble(Tag t, double d) {
    if (IsCounted()) DropRef();
    tag_ = t;
    u_.d = d;
  }

 private:
  static Value Make(Tag t) {
    Value v;
    v.tag_ = t;
    return v;
  }
  static Value MakeInt(Tag t, int64_t n) {
    Value v = Make(t);
    v.u_.i = n;
    return v;
  }
  static Value MakeDouble(Tag t, double d) {
    Value v = Make(t);
    v.u_.d = d;
    return v;
  }
  // Counting: texts and objects inline, arrays and element references in
  // the slow path. DropRef leaves the payload stale; callers overwrite it.
  inline void AddRef() const;
  inline void DropRef();
  void AddRefSlow() const;
  void ReleaseSlow();
  void AssignSlow(const Value& o);
  void MoveAssignSlow(Value&& o) noexcept;

  Tag tag_ = Tag::kEmpty;
  uint32_t aux_ = 0;
  union U {
    int64_t i;
    double d;
    StrObj* s;
    Object* o;
    ArrayObj* a;
    Value* ref;
  } u_;
};
static_assert(sizeof(Value) == 16, "a Value is two words");

// One dimension of an array: its lower bound (always 0 for arrays scripts
// make) and its element count.
struct ArrayDim {
  int32_t lower = 0;
  int32_t count = 0;
};

// A SAFEARRAY of Variants. Elements are stored with the first subscript
// varying fastest, so ReDim Preserve of the last dimension keeps them in
// place and For Each visits them in the order Windows does.
struct ArrayObj {
  uint32_t refs = 1;
  uint32_t locks = 0;  // element references held by running calls
  bool fixed = false;  // declared with bounds (Dim a(3)): cannot be ReDim'd
  std::vector<ArrayDim> dims;
  std::vector<Value> data;

  // True when another variable shares these elements (copy before writing).
  bool Shared() const { return refs - locks > 1; }
  // The element index of `subs` (one per dimension); throws error 9.
  size_t Offset(const Value* subs, int n) const;
};

// Calling convention for objects: the arguments as the caller passed them,
// each either a value or a reference to the caller's variable. For a property
// assignment the assigned value is the last argument.
class CallArgs {
 public:
  CallArgs(Value* items, int count) : items_(items), count_(count) {}
  int size() const { return count_; }
  const Value& operator[](int i) const { return items_[i].Deref(); }
  // True when argument `i` names a variable the callee may write back to.
  bool IsRef(int i) const { return items_[i].IsRef(); }
  // Writes a ByRef result back to the caller's variable (ignored for values).
  void Set(int i, Value v) const {
    if (items_[i].IsRef()) items_[i].DerefMut() = std::move(v);
  }
  // True when argument `i` exists and is not an omitted optional argument.
  bool Has(int i) const { return i < count_ && !(*this)[i].IsMissing(); }
  Value* raw() const { return items_; }

 private:
  Value* items_;
  int count_;
};

enum class InvokeKind : uint8_t {
  kGet,   // value of a property or result of a method
  kCall,  // a call statement: the result is dropped
  kLet,   // property assignment (value in the last argument)
  kSet,   // object property assignment (Set obj.x = ...)
};

// Walks a collection for For Each.
class Enumerator {
 public:
  virtual ~Enumerator() = default;
  // Gives the next element; false when there is none.
  virtual bool Next(Value& out) = 0;
};

// Member id 0 is the default member (the value of `obj` and `obj(args)`).
constexpr int kDefaultMember = 0;
constexpr int kNoMember = -1;

// Base of every object a script can hold: script class instances, the
// built-in objects and host objects. Counted; the last Release destroys it.
class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  void AddRef() { ++refs_; }
  void Release() {
    if (--refs_ == 0) Finalize();
  }
  uint32_t RefCount() const { return refs_; }

  // What TypeName() reports.
  virtual std::string TypeName() const = 0;
  // Member id for `name` (any letter case), or kNoMember.
  virtual int FindMember(std::string_view name) = 0;
  // Calls member `id`. Errors are thrown as ScriptError.
  virtual Value Invoke(int id, InvokeKind kind, CallArgs& args) = 0;
  // For Each support; nullptr when the object is not a collection.
  virtual std::unique_ptr<Enumerator> NewEnum() { return nullptr; }
  // Objects whose member ids depend only on their class give a key shared by
  // every instance, so call sites can remember a looked-up id.
  virtual const void* MemberTableKey() const { return nullptr; }
  // Drops the values the object holds (used to break reference cycles when an
  // engine goes away).
  virtual void ClearReferences() {}

 protected:
  // Called when the count drops to zero.
  virtual void Finalize() { delete this; }

 private:
  uint32_t refs_ = 0;
};

// A counted pointer to an Object.
template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(T* p) : p_(p) {  // NOLINT: implicit from a raw pointer
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <typename U>
  Ref(const Ref<U>& o) : Ref(o.get()) {}  // NOLINT
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref& operator=(Ref o) {
    std::swap(p_, o.p_);
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

template <typename T, typename... A>
Ref<T> MakeRef(A&&... a) {
  return Ref<T>(new T(std::forward<A>(a)...));
}

inline Value Value::Obj(Object* o) {
  if (!o) return Nothing();
  o->AddRef();
  Value v = Make(Tag::kObject);
  v.u_.o = o;
  return v;
}

inline Value Value::Arr(ArrayObj* a) {
  ++a->refs;
  Value v = Make(Tag::kArray);
  v.u_.a = a;
  return v;
}

inline void Value::AddRef() const {
  if (tag_ == Tag::kString) {
    ++u_.s->refs;
  } else if (tag_ == Tag::kObject) {
    u_.o->AddRef();
  } else {
    AddRefSlow();
  }
}

inline void Value::DropRef() {
  if (tag_ == Tag::kString) {
    if (--u_.s->refs == 0) delete u_.s;
  } else if (tag_ == Tag::kObject) {
    u_.o->Release();
  } else {
    ReleaseSlow();
  }
}

inline const Value& Value::Deref() const {
  if (tag_ == Tag::kRef) return *u_.ref;
  if (tag_ == Tag::kRefElem) return u_.a->data[aux_];
  return *this;
}

inline Value& Value::DerefMut() {
  if (tag_ == Tag::kRef) return *u_.ref;
  if (tag_ == Tag::kRefElem) return u_.a->data[aux_];
  return *this;
}

// A new one-dimensional array of `count` Empty elements, bounds 0..count-1.
Value NewArray(std::vector<ArrayDim> dims);
Value ArrayFromValues(std::vector<Value> items);
// A one-dimensional array built in place: append to arr()->data (room for
// `reserve` elements is made), then SealList sets its bounds. Its storage
// comes from arrays freed earlier where it can.
Value NewList(size_t reserve);
void SealList(ArrayObj* a);
// Releases an array whose last reference went (its elements too).
void FreeArrayObj(ArrayObj* a);

}  // namespace corvane::vbs
