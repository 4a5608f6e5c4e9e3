// SEQUENCE OF / SET OF containers and constrained-integer templates.
#ifndef TSD_ASN1_VALUES_SEQUENCE_OF_H
#define TSD_ASN1_VALUES_SEQUENCE_OF_H

#include "asn1/values/abstract_data.h"
#include "asn1/values/primitives.h"

#include <boost/iterator/iterator_adaptor.hpp>

#include <cstdint>
#include <vector>

namespace ASN1 {

// The clones the insert forms of SEQUENCE_OF_Base make: each call of a
// create_from0 returns a new clone of the value it refers to; a
// create_from_ptr returns a clone of the value it is given. The caller owns
// the clone.
class create_from0 {
public:
    create_from0(AbstractData const& value) : value_(value) {}
    AbstractData* operator()() const { return value_.clone(); }

private:
    AbstractData const& value_;
};

struct create_from_ptr {
    AbstractData* operator()(AbstractData const* value) const { return value->clone(); }
};

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
public:
    // Owned element pointers, never null.
    using Container = std::vector<AbstractData*>;
    using iterator = Container::iterator;
    using const_iterator = Container::const_iterator;

    static AbstractData* create(void const* info);

    explicit SEQUENCE_OF_Base(void const* info) : ConstrainedObject(info) {}
    SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
    SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
    ~SEQUENCE_OF_Base() override;
    void swap(SEQUENCE_OF_Base& other) { elements_.swap(other.elements_); }
    SEQUENCE_OF_Base* clone() const { return static_cast<SEQUENCE_OF_Base*>(do_clone()); }

    unsigned size() const { return static_cast<unsigned>(elements_.size()); }
    bool empty() const { return elements_.empty(); }
    void reserve(unsigned count) { elements_.reserve(count); }

    void const* getElementInfo() const
    {
        return static_cast<SequenceOfInfo const*>(info())->elementInfo;
    }
    // A new element from the element description; the caller owns it.
    AbstractData* createElement() const { return AbstractData::create(getElementInfo()); }
    // Appends value and takes ownership (no copy); a null value is ignored.
    void push_back(AbstractData* value);

    iterator begin() { return elements_.begin(); }
    iterator end() { return elements_.end(); }
    const_iterator begin() const { return elements_.begin(); }
    const_iterator end() const { return elements_.end(); }

    // Inserts count clones of value before position.
    iterator insert(iterator position, unsigned count, AbstractData const& value);
    // Inserts a clone of each value of [first, last) before position.
    iterator insert(iterator position, const_iterator first, const_iterator last);
    // Destroys [first, last); returns the position after the removed range.
    iterator erase(iterator first, iterator last);
    // Shrinks (destroying the surplus) or grows with new elements.
    void resize(unsigned count);
    void clear();

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

    Container elements_;
};

// The SIZE constraint of a container without one.
struct EmptyConstraint {
    static constexpr ConstraintType type = Unconstrained;
    static constexpr std::int32_t lower = 0;
    static constexpr std::uint32_t upper = 0xFFFFFFFFu;
};

// Typed list of T. Its description is constant data: word 0 is
// createAs<SEQUENCE_OF>, so values made from it are SEQUENCE_OF objects.
template <class T, class Constraint = EmptyConstraint>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
public:
    static constexpr SequenceOfInfo theInfo = {
        {{&createAs<SEQUENCE_OF>, 16u}, {Constraint::type, Constraint::lower, Constraint::upper}},
        &T::theInfo};

    class iterator : public boost::iterator_adaptor<iterator, SEQUENCE_OF_Base::iterator, T,
                                                    boost::use_default, T&> {
    public:
        iterator() {}
        explicit iterator(SEQUENCE_OF_Base::iterator position)
            : iterator::iterator_adaptor_(position) {}

    private:
        friend class boost::iterator_core_access;
        T& dereference() const { return static_cast<T&>(**this->base()); }
    };

    class const_iterator
        : public boost::iterator_adaptor<const_iterator, SEQUENCE_OF_Base::const_iterator,
                                         T const, boost::use_default, T const&> {
    public:
        const_iterator() {}
        explicit const_iterator(SEQUENCE_OF_Base::const_iterator position)
            : const_iterator::iterator_adaptor_(position) {}

    private:
        friend class boost::iterator_core_access;
        T const& dereference() const { return static_cast<T const&>(**this->base()); }
    };

    SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
    explicit SEQUENCE_OF(void const* info) : SEQUENCE_OF_Base(info) {}
    SEQUENCE_OF(SEQUENCE_OF const&) = default;
    SEQUENCE_OF& operator=(SEQUENCE_OF const&) = default;

    using SEQUENCE_OF_Base::push_back;
    // Appends a clone of value; the caller keeps value.
    void push_back(T const& value)
    {
        SEQUENCE_OF_Base::push_back(static_cast<AbstractData const&>(value).clone());
    }

    T& operator[](unsigned index) { return static_cast<T&>(*elements_[index]); }
    T const& operator[](unsigned index) const { return static_cast<T const&>(*elements_[index]); }

    iterator begin() { return iterator(elements_.begin()); }
    iterator end() { return iterator(elements_.end()); }
    const_iterator begin() const { return const_iterator(elements_.begin()); }
    const_iterator end() const { return const_iterator(elements_.end()); }

    using SEQUENCE_OF_Base::erase;
    // Destroys the element at position; returns the next position.
    iterator erase(iterator position)
    {
        clean(position);
        return iterator(elements_.erase(position.base()));
    }
    // Destroys the element at position, leaving its entry (used by erase).
    void clean(iterator position)
    {
        delete *position.base();
        *position.base() = nullptr;
    }

protected:
    // SET_OF passes its own description.
    struct WithInfo {};
    SEQUENCE_OF(WithInfo, void const* info) : SEQUENCE_OF_Base(info) {}
};

template <class T, class Constraint = EmptyConstraint>
class SET_OF : public SEQUENCE_OF<T, Constraint> {
public:
    static constexpr SequenceOfInfo theInfo = {
        {{&createAs<SET_OF>, 17u}, {Constraint::type, Constraint::lower, Constraint::upper}},
        &T::theInfo};

    SET_OF() : SEQUENCE_OF<T, Constraint>(typename SEQUENCE_OF<T, Constraint>::WithInfo(), &theInfo) {}
    explicit SET_OF(void const* info)
        : SEQUENCE_OF<T, Constraint>(typename SEQUENCE_OF<T, Constraint>::WithInfo(), info) {}
    SET_OF(SET_OF const&) = default;
    SET_OF& operator=(SET_OF const&) = default;
};

// INTEGER with a fixed range, with an unsigned view. No range checks: the
// coders and checkers judge the value.
template <ConstraintType Type, int Lower, unsigned Upper>
class Constrained_INTEGER : public INTEGER {
public:
    static constexpr ConstrainedInfo theInfo = {
        {&createAs<Constrained_INTEGER>, 2u},
        {Type, static_cast<std::int32_t>(Lower), static_cast<std::uint32_t>(Upper)}};

    Constrained_INTEGER() : INTEGER(&theInfo) {}
    explicit Constrained_INTEGER(unsigned value) : INTEGER(static_cast<int>(value), &theInfo) {}
    explicit Constrained_INTEGER(void const* info) : INTEGER(info) {}
    Constrained_INTEGER(Constrained_INTEGER const&) = default;
    Constrained_INTEGER& operator=(Constrained_INTEGER const&) = default;

    unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
    Constrained_INTEGER& operator=(unsigned value)
    {
        setValue(static_cast<int>(value));
        return *this;
    }
};

template <ConstraintType Type, int Lower, unsigned Upper>
unsigned operator+(unsigned n, Constrained_INTEGER<Type, Lower, Upper> const& v)
{
    return n + v.getValue();
}

// The stored value added to an int (on 32 bits, wrapping).
template <ConstraintType Type, int Lower, unsigned Upper>
int operator+(int n, Constrained_INTEGER<Type, Lower, Upper> const& v)
{
    return static_cast<int>(static_cast<unsigned>(n) + v.getValue());
}

} // namespace ASN1

#endif
