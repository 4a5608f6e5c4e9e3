#include "asn1/values/primitives.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace ASN1 {

namespace {

// Walks a names table ("name" or "name=number" entries, null-terminated),
// giving each entry's identifier and number.
class NameTableWalker {
public:
    explicit NameTableWalker(char const* const* table) : table_(table) {}

    // Advances to the next entry; false at the end of the table.
    bool next()
    {
        if (!table_ || !table_[pos_])
            return false;
        char const* entry = table_[pos_++];
        char const* eq = std::strchr(entry, '=');
        int number = started_ ? number_ + 1 : 0;
        if (eq) {
            char* end = nullptr;
            errno = 0;
            long parsed = std::strtol(eq + 1, &end, 10);
            if (end != eq + 1 && errno == 0)
                number = static_cast<int>(parsed);
        }
        started_ = true;
        number_ = number;
        entry_ = entry;
        nameLength_ = eq ? static_cast<std::size_t>(eq - entry) : std::strlen(entry);
        return true;
    }

    int number() const { return number_; }
    char const* entry() const { return entry_; }
    std::size_t nameLength() const { return nameLength_; }
    bool hasNumber() const { return entry_[nameLength_] == '='; }

private:
    char const* const* table_;
    std::size_t pos_ = 0;
    bool started_ = false;
    int number_ = 0;
    char const* entry_ = nullptr;
    std::size_t nameLength_ = 0;
};

// The identifier part of an entry that carries "=number", kept for the life
// of the process so that getName can hand out a plain C string. Bounded by
// the number of such entries in the program's tables.
char const* identifierOf(char const* entry, std::size_t length)
{
    static auto* interned = new std::unordered_map<char const*, std::string>();
    auto it = interned->find(entry);
    if (it == interned->end())
        it = interned->emplace(entry, std::string(entry, length)).first;
    return it->second.c_str();
}

} // namespace

AbstractData* ENUMERATED::create(void const* info) { return new ENUMERATED(info); }

char const* ENUMERATED::getName() const
{
    NameTableWalker walk(enumInfo()->names);
    while (walk.next()) {
        if (walk.number() == value_)
            return walk.hasNumber() ? identifierOf(walk.entry(), walk.nameLength()) : walk.entry();
    }
    return nullptr;
}

bool ENUMERATED::setFromName(std::string const& name)
{
    NameTableWalker walk(enumInfo()->names);
    while (walk.next()) {
        if (walk.nameLength() == name.size() &&
            name.compare(0, name.size(), walk.entry(), walk.nameLength()) == 0) {
            value_ = walk.number();
            return true;
        }
    }
    value_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(getMaximum()) + 1u);
    return false;
}

int ENUMERATED::do_compare(AbstractData const& other) const
{
    ENUMERATED const* o = detail::sameKind<ENUMERATED>(other);
    if (!o)
        return 1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value_) -
                                     static_cast<std::uint32_t>(o->value_));
}

AbstractData* ENUMERATED::do_clone() const { return detail::cloneAs(*this); }
bool ENUMERATED::do_accept(Visitor& v) { return v.visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.visit(*this); }

} // namespace ASN1
