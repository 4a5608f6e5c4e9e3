#include "asn1/values/primitives.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace ASN1 {

namespace {
constexpr ConstraintInfo kUnconstrained = {Unconstrained, 0, 0xFFFFFFFFu};
}

// ---- NULL --------------------------------------------------------------------

const TypeInfo Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(void const* info) { return new Null(info); }
int Null::do_compare(AbstractData const& other) const
{
    return detail::sameKind<Null>(other) ? 0 : 1;
}
AbstractData* Null::do_clone() const { return detail::cloneAs(*this); }
bool Null::do_accept(Visitor& v) { return v.visit(*this); }
bool Null::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- BOOLEAN -----------------------------------------------------------------

const TypeInfo BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(void const* info) { return new BOOLEAN(info); }
int BOOLEAN::do_compare(AbstractData const& other) const
{
    BOOLEAN const* o = detail::sameKind<BOOLEAN>(other);
    if (!o)
        return 1;
    return int(value_) - int(o->value_);
}
AbstractData* BOOLEAN::do_clone() const { return detail::cloneAs(*this); }
bool BOOLEAN::do_accept(Visitor& v) { return v.visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- INTEGER -----------------------------------------------------------------

const ConstrainedInfo INTEGER::theInfo = {{&INTEGER::create, 2}, kUnconstrained};

AbstractData* INTEGER::create(void const* info) { return new INTEGER(info); }
int INTEGER::do_compare(AbstractData const& other) const
{
    INTEGER const* o = detail::sameKind<INTEGER>(other);
    if (!o)
        return 1;
    // Difference on 32 bits with wrap-around: zero exactly when equal.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value_) -
                                     static_cast<std::uint32_t>(o->value_));
}
AbstractData* INTEGER::do_clone() const { return detail::cloneAs(*this); }
bool INTEGER::do_accept(Visitor& v) { return v.visit(*this); }
bool INTEGER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- INTEGER with named numbers ----------------------------------------------

AbstractData* IntegerWithNamedNumber::create(void const* info)
{
    return new IntegerWithNamedNumber(info);
}

bool IntegerWithNamedNumber::getName(std::string& name) const
{
    auto const* d = static_cast<NamedIntegerInfo const*>(info());
    if (!d->names)
        return false;
    NameEntry const* first = d->names;
    NameEntry const* last = d->names + d->nameCount;
    int value = getValue();
    NameEntry const* it = std::lower_bound(
        first, last, value, [](NameEntry const& e, int v) { return e.value < v; });
    if (it == last || it->value != value)
        return false;
    name = it->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name)
{
    auto const* d = static_cast<NamedIntegerInfo const*>(info());
    for (std::uint32_t i = 0; d->names && i < d->nameCount; ++i) {
        if (d->names[i].name && name == d->names[i].name) {
            setValue(d->names[i].value);
            return true;
        }
    }
    return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- BIT STRING --------------------------------------------------------------

const ConstrainedInfo BIT_STRING::theInfo = {{&BIT_STRING::create, 3}, kUnconstrained};

AbstractData* BIT_STRING::create(void const* info) { return new BIT_STRING(info); }

bool BIT_STRING::operator[](unsigned index) const
{
    if (index >= count_ || index / 8 >= bytes_.size())
        return false;
    return (static_cast<unsigned char>(bytes_[index / 8]) >> (7 - index % 8)) & 1;
}

void BIT_STRING::resize(unsigned n)
{
    bytes_.resize((static_cast<std::size_t>(n) + 7) / 8, 0);
    count_ = n;
}

void BIT_STRING::set(unsigned index, bool value)
{
    if (index >= count_ || index / 8 >= bytes_.size())
        return;
    unsigned char mask = static_cast<unsigned char>(0x80u >> (index % 8));
    unsigned char& byte = reinterpret_cast<unsigned char&>(bytes_[index / 8]);
    byte = value ? (byte | mask) : (byte & static_cast<unsigned char>(~mask));
}

int BIT_STRING::do_compare(AbstractData const& other) const
{
    BIT_STRING const* o = detail::sameKind<BIT_STRING>(other);
    if (!o)
        return 1;
    std::size_t n = std::min(bytes_.size(), o->bytes_.size());
    for (std::size_t i = 0; i < n; ++i) {
        int a = static_cast<unsigned char>(bytes_[i]);
        int b = static_cast<unsigned char>(o->bytes_[i]);
        if (a != b)
            return a - b;
    }
    return detail::difference(count_, o->count_);
}

AbstractData* BIT_STRING::do_clone() const { return detail::cloneAs(*this); }
bool BIT_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- OCTET STRING ------------------------------------------------------------

const ConstrainedInfo OCTET_STRING::theInfo = {{&OCTET_STRING::create, 4}, kUnconstrained};

AbstractData* OCTET_STRING::create(void const* info) { return new OCTET_STRING(info); }

int OCTET_STRING::do_compare(AbstractData const& other) const
{
    OCTET_STRING const* o = detail::sameKind<OCTET_STRING>(other);
    if (!o)
        return 1;
    return lexicographic_compare_bytes(data(), data() + size(), o->data(), o->data() + o->size());
}

AbstractData* OCTET_STRING::do_clone() const { return detail::cloneAs(*this); }
bool OCTET_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- open types ----------------------------------------------------------------

const TypeInfo OpenData::theInfo = {&OpenData::create, 0};

AbstractData* OpenData::create(void const* info) { return new OpenData(nullptr, info); }

OpenData::OpenData(OpenData const& other) : AbstractData(other)
{
    std::unique_ptr<AbstractData> data(other.data_ ? other.data_->clone() : nullptr);
    std::unique_ptr<std::vector<char>> buf(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr);
    data_ = data.release();
    buf_ = buf.release();
}

OpenData& OpenData::operator=(OpenData const& other)
{
    if (this != &other) {
        OpenData copy(other);
        swap(copy);
    }
    return *this;
}

OpenData::~OpenData()
{
    delete data_;
    delete buf_;
}

void OpenData::grab(std::vector<char>* buf)
{
    if (buf == buf_)
        return;
    delete buf_;
    buf_ = buf;
}

void OpenData::swap(OpenData& other)
{
    std::swap(data_, other.data_);
    std::swap(buf_, other.buf_);
}

int OpenData::do_compare(AbstractData const& other) const
{
    OpenData const* o = detail::sameKind<OpenData>(other);
    if (!o)
        return 1;
    if (data_ && o->data_)
        return data_->compare(*o->data_);
    if (buf_ && o->buf_)
        return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(),
                                           o->buf_->data(), o->buf_->data() + o->buf_->size());
    if (isEmpty() && o->isEmpty())
        return 0;
    return data_ ? 1 : -1;
}

AbstractData* OpenData::do_clone() const { return detail::cloneAs(*this); }
bool OpenData::do_accept(Visitor& v) { return v.visit(*this); }
bool OpenData::do_accept(ConstVisitor& v) const { return v.visit(*this); }

AbstractData* TypeConstrainedOpenData::create(void const* info)
{
    auto const* d = static_cast<TypeConstrainedOpenInfo const*>(info);
    std::unique_ptr<AbstractData> carried(AbstractData::create(d->carried));
    AbstractData* made = new TypeConstrainedOpenData(carried.get(), info);
    carried.release();
    return made;
}

bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.visit(*this); }

} // namespace ASN1
