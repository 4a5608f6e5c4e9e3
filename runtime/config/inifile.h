#pragma once
// The configuration file model: a File holds named Sections; every header
// occurrence adds a SubSection to its Section; a SubSection holds named Keys;
// every occurrence of a key within one SubSection adds a SubKey (a value with
// its line number). Parsing never fails: an unreadable file gives an empty
// tree and text that fits no rule is skipped.
//
// Reader checks one SubSection against a list of expected keys and converts
// their values into typed variables, reporting problems on a caller's stream.
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <cstring>
#include <iosfwd>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

namespace Private {
// Appends to and empties the file-ordered lists of the tree.
template <class T>
struct Chain;
}  // namespace Private

// Walks one of the file-ordered lists of the tree; a null pointer is the end.
template <class T>
class GenericIterator {
 public:
  GenericIterator() : mPtr(nullptr) {}
  explicit GenericIterator(T* p) : mPtr(p) {}
  GenericIterator& operator++() {
    if (mPtr) mPtr = mPtr->mNext;
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    ++*this;
    return old;
  }
  T& operator*() const { return *mPtr; }
  T* operator->() const { return mPtr; }
  bool operator!=(const GenericIterator& o) const { return mPtr != o.mPtr; }
  bool operator==(const GenericIterator& o) const { return mPtr == o.mPtr; }

 private:
  T* mPtr;
};

// One value of a key, with the line it came from (-1 when made up).
class SubKey {
 public:
  SubKey(const std::string& value, int line);
  SubKey(const SubKey&) = delete;
  SubKey& operator=(const SubKey&) = delete;

  const std::string& GetStr() const { return mValue; }
  int GetLineNo() const { return mLineNo; }

  // Typed access to the text.
  bool GetBool(bool dflt) const;
  void SetBool(bool v);
  int GetInt(int dflt) const;
  void SetInt(int v);
  float GetFloat(float dflt) const;
  void SetFloat(float v);

  void Dump(std::ostream& os) const;

 private:
  friend class Key;
  friend class GenericIterator<SubKey>;
  friend struct Private::Chain<SubKey>;
  std::string mValue;
  int mLineNo;
  SubKey* mNext = nullptr;
  SubKey* mPrev = nullptr;
};

// A key of one subsection with all the values given for it, in file order.
class Key {
 public:
  typedef GenericIterator<SubKey> iterator;

  explicit Key(const std::string& name);
  ~Key();
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  SubKey* NewSubKey(const std::string& value, int line);
  void CleanSubKeys();
  // Adds the value "" (line -1) when the key has none.
  void CheckEmpty();

  const std::string& GetName() const { return mName; }
  int GetCount() const { return mSubKeyCount; }
  SubKey* GetFirstSubKey();
  SubKey* GetLastSubKey();
  const std::string& GetStr();

  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& os) const;

 private:
  friend class SubSection;
  friend class GenericIterator<Key>;
  friend struct Private::Chain<Key>;
  std::string mName;
  int mSubKeyCount = 0;
  SubKey* mFirst = nullptr;
  SubKey* mLast = nullptr;
  Key* mNext = nullptr;
  Key* mPrev = nullptr;
};

// One occurrence of a section header and the keys that follow it.
class SubSection {
 public:
  typedef GenericIterator<Key> iterator;

  explicit SubSection(int line);
  ~SubSection();
  SubSection(const SubSection&) = delete;
  SubSection& operator=(const SubSection&) = delete;

  // The key of that name; an empty one is created when there is none.
  Key* operator[](const std::string& name);
  Key* NewKey(const std::string& name);
  SubKey* NewSubKey(const std::string& name, const std::string& value, int line);
  void CleanKeys();

  int GetLineNo() const { return mLineNo; }
  int GetKeyCount() const { return mKeyCount; }
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& os) const;

 private:
  friend class Section;
  friend class GenericIterator<SubSection>;
  friend struct Private::Chain<SubSection>;
  int mLineNo;
  int mKeyCount = 0;
  Key* mFirst = nullptr;
  Key* mLast = nullptr;
  SubSection* mNext = nullptr;
  SubSection* mPrev = nullptr;
  std::map<std::string, Key*> mKeys;
};

// All occurrences of one section header, in file order.
class Section {
 public:
  typedef GenericIterator<SubSection> iterator;

  explicit Section(const std::string& name);
  ~Section();
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  SubSection* NewSubSection(int line);
  void CleanSubSections();
  // Adds a subsection with line -1 when there is none.
  void CheckEmpty();

  const std::string& GetName() const { return mName; }
  int GetSubSectionCount() const { return mSubSectionCount; }
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& os) const;

 private:
  friend class File;
  friend class GenericIterator<Section>;
  friend struct Private::Chain<Section>;
  std::string mName;
  int mSubSectionCount = 0;
  SubSection* mFirst = nullptr;
  SubSection* mLast = nullptr;
  Section* mNext = nullptr;
  Section* mPrev = nullptr;
};

// The whole file.
class File {
 public:
  typedef GenericIterator<Section> iterator;

  File();
  explicit File(const std::string& name);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads and parses the file; false when it could not be opened (the tree
  // then stays empty).
  bool Open(const std::string& name);
  void Close();

  // The section of that name; an empty one is created when there is none.
  Section* operator[](const std::string& name);
  Section* NewSection(const std::string& name);
  SubSection* NewSubSection(const std::string& name, int line);
  void CleanSections();

  bool IsOpened() const { return mOpened; }
  const std::string& GetFileName() const { return mFileName; }
  int GetSectionCount() const { return mSectionCount; }
  iterator begin() const { return iterator(mFirst); }
  iterator end() const { return iterator(); }

  void Sync() {}
  void Dump(std::ostream& os) const;

 private:
  void Parse(std::istream& in);

  std::string mFileName;
  bool mOpened = false;
  int mSectionCount = 0;
  Section* mFirst = nullptr;
  Section* mLast = nullptr;
  std::map<std::string, Section*> mSections;
};

// A row of a symbol table; a table ends with a row whose name is null.
template <class T>
struct Symbol {
  const char* name;
  T value;
};

namespace Private {

// The binding of one expected key to its target.
class KeyValue {
 public:
  KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;
  virtual ~KeyValue() {}
  virtual const char* name() const = 0;
  virtual bool do_parse(const char* text) = 0;

  bool parse(const std::string& text) {
    mParsed = do_parse(text.c_str());
    return mParsed;
  }
  bool& parsed() { return mParsed; }

 private:
  bool mParsed = false;
};

// The type whose values a target of type T holds: an enumeration holds
// every value of its underlying type.
template <class T, bool = std::is_enum<T>::value>
struct Storage {
  typedef T type;
};
template <class T>
struct Storage<T, true> {
  typedef typename std::underlying_type<T>::type type;
};

// Whether a target of type T can hold the number v.
template <class T>
bool holds(long v) {
  typedef typename Storage<T>::type S;
  static_assert(std::is_integral<S>::value, "numbers are read into integers and enumerations");
  typedef std::numeric_limits<S> L;
  if (v < 0) return L::is_signed && static_cast<long long>(v) >= static_cast<long long>(L::min());
  return static_cast<unsigned long long>(v) <= static_cast<unsigned long long>(L::max());
}

// Enumerations and integers: a symbol name, else a number in any C base,
// stored even when text follows it (which makes the value invalid).
template <class T>
class TKeyValue : public KeyValue {
 public:
  TKeyValue(T* target, const char* name, const Symbol<T>* table)
      : mTarget(target), mName(name), mTable(table) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override {
    if (mTable) {
      for (const Symbol<T>* s = mTable; s->name; ++s) {
        if (std::strcmp(s->name, text) == 0) {
          *mTarget = s->value;
          return true;
        }
      }
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    // A number the target cannot hold is refused and not stored: the
    // conversion would change it.
    if (errno == ERANGE || !holds<T>(v)) return false;
    *mTarget = static_cast<T>(static_cast<typename Storage<T>::type>(v));
    return *text != '\0' && end && *end == '\0';
  }

 private:
  T* mTarget;
  const char* mName;
  const Symbol<T>* mTable;
};

// The boolean words: true/false, yes/no, enabled/disabled, enable/disable, 1/0.
template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* target, const char* name, const Symbol<bool>* = nullptr)
      : mTarget(target), mName(name) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override;

 private:
  bool* mTarget;
  const char* mName;
};

// Any text, the empty one included.
template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* target, const char* name, const Symbol<std::string>* = nullptr)
      : mTarget(target), mName(name) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override {
    *mTarget = text;
    return true;
  }

 private:
  std::string* mTarget;
  const char* mName;
};

}  // namespace Private

class Reader {
 public:
  // An owned list of key bindings.
  class Field {
   public:
    Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    ~Field();

    // Binds the key `name` to `target`; the result tells after parsing
    // whether the key was read. `name` must outlive the reader.
    template <class T>
    bool& add(T* target, const char* name, const Symbol<T>* table = nullptr) {
      return add(new Private::TKeyValue<T>(target, name, table));
    }
    bool& add(Private::KeyValue* binding);

    const std::vector<Private::KeyValue*>& bindings() const { return mList; }

   private:
    std::vector<Private::KeyValue*> mList;
  };

  Reader(const std::string& prefix, std::ostream& out);
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads every bound key of the subsection; false when a required key is
  // missing, invalid or repeated.
  bool operator()(SubSection& sub) { return parse(sub); }
  bool parse(SubSection& sub);

  Field mRequired;
  Field mOptional;

 private:
  std::string mPrefix;
  std::ostream& mOut;
};

}  // namespace IniFile
