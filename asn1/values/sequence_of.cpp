#include "asn1/values/sequence_of.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <algorithm>
#include <memory>

namespace ASN1 {

namespace {

// Element pointers owned until released: a copy interrupted by an
// allocation failure destroys the clones it has made.
class OwnedElements {
public:
    ~OwnedElements()
    {
        for (AbstractData* p : items)
            delete p;
    }
    void add(AbstractData* p)
    {
        std::unique_ptr<AbstractData> guard(p);
        items.push_back(p);
        guard.release();
    }
    SEQUENCE_OF_Base::Container items;
};

} // namespace

AbstractData* SEQUENCE_OF_Base::create(void const* info) { return new SEQUENCE_OF_Base(info); }

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other)
{
    OwnedElements copies;
    copies.items.reserve(other.elements_.size());
    for (AbstractData const* e : other.elements_)
        copies.add(e->clone());
    elements_.swap(copies.items);
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other)
{
    if (this != &other) {
        OwnedElements copies;
        copies.items.reserve(other.elements_.size());
        for (AbstractData const* e : other.elements_)
            copies.add(e->clone());
        elements_.swap(copies.items);  // the old elements are destroyed with copies
    }
    return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { clear(); }

void SEQUENCE_OF_Base::push_back(AbstractData* value)
{
    if (!value)
        return;
    std::unique_ptr<AbstractData> guard(value);
    elements_.push_back(value);
    guard.release();
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::insert(iterator position, unsigned count,
                                                    AbstractData const& value)
{
    std::size_t at = static_cast<std::size_t>(position - elements_.begin());
    create_from0 const make(value);
    OwnedElements copies;
    copies.items.reserve(count);
    for (unsigned i = 0; i < count; ++i)
        copies.add(make());
    elements_.reserve(elements_.size() + count);
    elements_.insert(elements_.begin() + at, copies.items.begin(), copies.items.end());
    copies.items.clear();
    return elements_.begin() + at;
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::insert(iterator position, const_iterator first,
                                                    const_iterator last)
{
    std::size_t at = static_cast<std::size_t>(position - elements_.begin());
    // Clone first: the range may lie in this very container.
    create_from_ptr const make;
    OwnedElements copies;
    copies.items.reserve(static_cast<std::size_t>(last - first));
    for (; first != last; ++first)
        copies.add(make(*first));
    elements_.reserve(elements_.size() + copies.items.size());
    elements_.insert(elements_.begin() + at, copies.items.begin(), copies.items.end());
    copies.items.clear();
    return elements_.begin() + at;
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last)
{
    for (iterator it = first; it != last; ++it) {
        delete *it;
        *it = nullptr;
    }
    return elements_.erase(first, last);
}

void SEQUENCE_OF_Base::resize(unsigned count)
{
    if (count < elements_.size()) {
        erase(elements_.begin() + count, elements_.end());
        return;
    }
    elements_.reserve(count);
    while (elements_.size() < count) {
        AbstractData* made = createElement();
        if (!made)
            break;  // no element description: nothing to append
        push_back(made);
    }
}

void SEQUENCE_OF_Base::clear()
{
    for (AbstractData* e : elements_)
        delete e;
    elements_.clear();
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other) const
{
    SEQUENCE_OF_Base const* o = detail::sameKind<SEQUENCE_OF_Base>(other);
    if (!o)
        return 1;
    std::size_t n = std::min(elements_.size(), o->elements_.size());
    for (std::size_t i = 0; i < n; ++i) {
        int result = elements_[i]->compare(*o->elements_[i]);
        if (result != 0)
            return result;
    }
    // One list a prefix of the other: the difference of the sizes.
    return detail::difference(static_cast<long long>(elements_.size()),
                              static_cast<long long>(o->elements_.size()));
}

AbstractData* SEQUENCE_OF_Base::do_clone() const { return detail::cloneAs(*this); }
bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.visit(*this); }

} // namespace ASN1
