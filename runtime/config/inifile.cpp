#include "runtime/config/inifile.h"

#include <cerrno>
#include <climits>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace IniFile {

namespace Private {

template <class T>
struct Chain {
  static void append(T* node, T*& first, T*& last) {
    node->mPrev = last;
    if (last)
      last->mNext = node;
    else
      first = node;
    last = node;
  }
  // Deletes every node.
  static void clear(T*& first, T*& last) {
    for (T* n = first; n;) {
      T* next = n->mNext;
      delete n;
      n = next;
    }
    first = last = nullptr;
  }
};

}  // namespace Private

// ---------------------------------------------------------------- SubKey

SubKey::SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}

bool SubKey::GetBool(bool dflt) const {
  if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on") return true;
  if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off") return false;
  return dflt;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

int SubKey::GetInt(int dflt) const {
  // Leading blanks, a sign and decimal digits, as "%d" reads them; a number
  // an int cannot hold gives the default instead of an undefined value.
  const char* text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return dflt;
  return static_cast<int>(v);
}

void SubKey::SetInt(int v) { mValue = std::to_string(v); }

float SubKey::GetFloat(float dflt) const {
  float v;
  return std::sscanf(mValue.c_str(), "%f", &v) == 1 ? v : dflt;
}

void SubKey::SetFloat(float v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey\n"
     << "mValue=\"" << mValue << "\"\n"
     << "mLineNo=" << mLineNo << "\n";
}

// ---------------------------------------------------------------- Key

Key::Key(const std::string& name) : mName(name) {}

Key::~Key() { CleanSubKeys(); }

SubKey* Key::NewSubKey(const std::string& value, int line) {
  SubKey* sk = new SubKey(value, line);
  Private::Chain<SubKey>::append(sk, mFirst, mLast);
  ++mSubKeyCount;
  return sk;
}

void Key::CleanSubKeys() {
  Private::Chain<SubKey>::clear(mFirst, mLast);
  mSubKeyCount = 0;
}

void Key::CheckEmpty() {
  if (!mFirst) NewSubKey("", -1);
}

SubKey* Key::GetFirstSubKey() {
  CheckEmpty();
  return mFirst;
}

SubKey* Key::GetLastSubKey() {
  CheckEmpty();
  return mLast;
}

const std::string& Key::GetStr() { return GetFirstSubKey()->GetStr(); }

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubKeyCount=" << mSubKeyCount << "\n";
  for (const SubKey* sk = mFirst; sk; sk = sk->mNext) sk->Dump(os);
}

// ---------------------------------------------------------------- SubSection

SubSection::SubSection(int line) : mLineNo(line) {}

SubSection::~SubSection() { CleanKeys(); }

Key* SubSection::operator[](const std::string& name) {
  auto it = mKeys.find(name);
  if (it != mKeys.end()) return it->second;
  return NewKey(name);
}

Key* SubSection::NewKey(const std::string& name) {
  Key* k = new Key(name);
  Private::Chain<Key>::append(k, mFirst, mLast);
  ++mKeyCount;
  // A second key of the same name stays in the list; look-ups find the first.
  mKeys.emplace(name, k);
  return k;
}

SubKey* SubSection::NewSubKey(const std::string& name, const std::string& value, int line) {
  return (*this)[name]->NewSubKey(value, line);
}

void SubSection::CleanKeys() {
  Private::Chain<Key>::clear(mFirst, mLast);
  mKeyCount = 0;
  mKeys.clear();
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection\n"
     << "mLineNo=\"" << mLineNo << "\"\n"
     << "mKeyCount=" << mKeyCount << "\n";
  for (const Key* k = mFirst; k; k = k->mNext) k->Dump(os);
}

// ---------------------------------------------------------------- Section

Section::Section(const std::string& name) : mName(name) {}

Section::~Section() { CleanSubSections(); }

SubSection* Section::NewSubSection(int line) {
  SubSection* ss = new SubSection(line);
  Private::Chain<SubSection>::append(ss, mFirst, mLast);
  ++mSubSectionCount;
  return ss;
}

void Section::CleanSubSections() {
  Private::Chain<SubSection>::clear(mFirst, mLast);
  mSubSectionCount = 0;
}

void Section::CheckEmpty() {
  if (!mFirst) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubSectionCount=" << mSubSectionCount << "\n";
  for (const SubSection* ss = mFirst; ss; ss = ss->mNext) ss->Dump(os);
}

// ---------------------------------------------------------------- File

File::File() {}

File::File(const std::string& name) { Open(name); }

File::~File() {
  Close();
  // Sections made by look-ups on a file that never opened are freed too.
  CleanSections();
}

bool File::Open(const std::string& name) {
  Close();
  mFileName = name;
  std::ifstream in(name.c_str(), std::ios::in | std::ios::binary);
  if (!in.is_open()) return false;
  mOpened = true;
  Parse(in);
  return mOpened;
}

void File::Close() {
  if (!mOpened) return;
  CleanSections();
  mOpened = false;
}

Section* File::operator[](const std::string& name) {
  auto it = mSections.find(name);
  if (it != mSections.end()) return it->second;
  return NewSection(name);
}

Section* File::NewSection(const std::string& name) {
  Section* s = new Section(name);
  Private::Chain<Section>::append(s, mFirst, mLast);
  ++mSectionCount;
  mSections.emplace(name, s);
  return s;
}

SubSection* File::NewSubSection(const std::string& name, int line) {
  return (*this)[name]->NewSubSection(line);
}

void File::CleanSections() {
  Private::Chain<Section>::clear(mFirst, mLast);
  mSectionCount = 0;
  mSections.clear();
}

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File\n"
     << "mFileName=\"" << mFileName << "\"\n"
     << "\n"
     << "mSectionCount=" << mSectionCount << "\n";
  for (const Section* s = mFirst; s; s = s->mNext) s->Dump(os);
}

// The parser reads one byte at a time. States:
//   0 outside any section, 1 inside "[...", 2 rest of a header line,
//   3 start of a line inside a section, 4 key, 5 after "=", 6 value.
void File::Parse(std::istream& in) {
  enum { kOutside, kHeader, kHeaderRest, kLineStart, kKey, kAfterEq, kValue };
  int state = kOutside;
  int line = 1;
  bool comment = false;
  int pending = 0;
  std::string name, key, value;
  SubSection* current = nullptr;

  auto storePair = [&]() {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  std::istreambuf_iterator<char> it(in), end;
  for (; it != end; ++it) {
    const char c = *it;
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    switch (state) {
      case kOutside:
        if (c == '#') {
          comment = true;
        } else if (c == '[') {
          name.clear();
          state = kHeader;
        }
        break;
      case kHeader:
        if (c == '\n') {
          state = kOutside;
        } else if (c == ']') {
          current = NewSubSection(name, line);
          state = kHeaderRest;
        } else {
          name += c;
        }
        break;
      case kHeaderRest:
        if (c == '\n')
          state = kLineStart;
        else if (c == '#')
          comment = true;
        break;
      case kLineStart:
        if (c == '#') {
          comment = true;
        } else if (c == '\t' || c == '\n' || c == ' ') {
        } else if (c == '[') {
          name.clear();
          state = kHeader;
        } else {
          key.assign(1, c);
          pending = 0;
          state = kKey;
        }
        break;
      case kKey:
        if (c == ' ') {
          ++pending;
        } else if (c == '=') {
          value.clear();
          pending = 0;
          state = kAfterEq;
        } else if (c == '\n') {
          // A key without "=": the broken line ends here, so the next line
          // (a header, a comment or a pair) is read as a line of its own.
          key.clear();
          pending = 0;
          state = kLineStart;
        } else {
          key.append(pending, ' ');
          pending = 0;
          key += c;
        }
        break;
      case kAfterEq:
        if (c == ' ') {
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          storePair();
          state = kLineStart;
        } else {
          value += c;
          pending = 0;
          state = kValue;
        }
        break;
      case kValue:
        if (c == ' ') {
          ++pending;
        } else if (c == '#' && pending > 0) {
          pending = 0;
          comment = true;
        } else if (c == '\n') {
          pending = 0;
          storePair();
          state = kLineStart;
        } else {
          value.append(pending, ' ');
          pending = 0;
          value += c;
        }
        break;
    }
    if (c == '\n') ++line;
  }
  if (state == kAfterEq || state == kValue) storePair();
}

// ---------------------------------------------------------------- Reader

namespace Private {

bool TKeyValue<bool>::do_parse(const char* text) {
  static const Symbol<bool> words[] = {
      {"true", true},      {"false", false},     {"yes", true},    {"no", false},
      {"enabled", true},   {"disabled", false},  {"enable", true}, {"disable", false},
      {"1", true},         {"0", false},         {nullptr, false},
  };
  for (const Symbol<bool>* w = words; w->name; ++w) {
    if (std::strcmp(w->name, text) == 0) {
      *mTarget = w->value;
      return true;
    }
  }
  return false;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* kv : mList) delete kv;
}

bool& Reader::Field::add(Private::KeyValue* binding) {
  mList.push_back(binding);
  return binding->parsed();
}

Reader::Reader(const std::string& prefix, std::ostream& out) : mPrefix(prefix), mOut(out) {}

bool Reader::parse(SubSection& sub) {
  const std::string& P = mPrefix;

  for (Private::KeyValue* kv : mRequired.bindings()) {
    Key* key = sub[kv->name()];
    const int n = key->GetCount();
    if (n == 0) {
      mOut << P << "required key \"" << kv->name() << "\" not present, line " << sub.GetLineNo()
           << std::endl;
      return false;
    }
    if (n == 1) {
      SubKey* v = key->GetFirstSubKey();
      if (!kv->parse(v->GetStr())) {
        mOut << P << "required key \"" << kv->name() << "\" has invalid value=\"" << v->GetStr()
             << "\", line " << v->GetLineNo() << std::endl;
        return false;
      }
      continue;
    }
    if (n == 2) {
      mOut << P << "required key \"" << kv->name() << "\" is duplicated!" << std::endl
           << P << " first occurence at " << key->GetFirstSubKey()->GetLineNo() << " line."
           << std::endl
           << P << " second occurence at " << key->GetLastSubKey()->GetLineNo() << " line."
           << std::endl;
      return false;
    }
    mOut << P << "required key \"" << kv->name() << "\" specified more than once:";
    for (const SubKey& v : *key) mOut << " " << v.GetLineNo();
    mOut << " lines" << std::endl;
    return false;
  }

  for (Private::KeyValue* kv : mOptional.bindings()) {
    kv->parsed() = false;
    Key* key = sub[kv->name()];
    const int n = key->GetCount();
    if (n == 0) continue;
    if (n == 1) {
      SubKey* v = key->GetFirstSubKey();
      if (!kv->parse(v->GetStr())) {
        mOut << P << "optional key \"" << kv->name() << "\" has invalid value=\"" << v->GetStr()
             << "\", line " << v->GetLineNo() << ". Key will be ignored." << std::endl;
      }
      continue;
    }
    if (n == 2) {
      mOut << P << "optional key \"" << kv->name() << "\" is duplicated!" << std::endl
           << P << " first occurence at " << key->GetFirstSubKey()->GetLineNo() << " line."
           << std::endl
           << P << " second occurence at " << key->GetLastSubKey()->GetLineNo()
           << " line. Both keys will be ignored." << std::endl;
      continue;
    }
    mOut << P << "optional key \"" << kv->name() << "\" specified more than once:";
    for (const SubKey& v : *key) mOut << " " << v.GetLineNo();
    mOut << " lines. All keys will be ignored." << std::endl;
  }
  return true;
}

}  // namespace IniFile
