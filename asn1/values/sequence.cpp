#include "asn1/values/sequence.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ASN1 {

// ---- BitMap --------------------------------------------------------------------

bool SEQUENCE::BitMap::operator[](unsigned bit) const
{
    if (bit >= count_)
        return false;
    return (bytes()[bit / 8] >> (7 - bit % 8)) & 1;
}

void SEQUENCE::BitMap::resize(unsigned count)
{
    std::size_t const need = (static_cast<std::size_t>(count) + 7) / 8;
    std::size_t const have = (static_cast<std::size_t>(count_) + 7) / 8;
    if (need > capacity_) {
        std::unique_ptr<unsigned char[]> grown(new unsigned char[need]());
        std::memcpy(grown.get(), bytes(), have);
        heap_ = std::move(grown);
        capacity_ = static_cast<std::uint32_t>(need);
    } else if (need > have) {
        std::memset(data() + have, 0, need - have);
    }
    // Bits beyond the new count are cleared so that growing again shows
    // them clear and equal maps compare equal.
    if (count % 8)
        data()[need - 1] &= static_cast<unsigned char>(0xFF00u >> (count % 8));
    count_ = count;
}

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(BitMap const& other)
{
    if (this == &other)
        return *this;
    count_ = 0;
    resize(other.count_);
    std::memcpy(data(), other.bytes(), (static_cast<std::size_t>(count_) + 7) / 8);
    return *this;
}

void SEQUENCE::BitMap::set(unsigned bit)
{
    if (bit < count_)
        data()[bit / 8] |= static_cast<unsigned char>(0x80u >> (bit % 8));
}

void SEQUENCE::BitMap::clear(unsigned bit)
{
    if (bit < count_)
        data()[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
}

bool SEQUENCE::BitMap::any() const
{
    unsigned char const* b = bytes();
    return std::any_of(b, b + (count_ + 7) / 8, [](unsigned char c) { return c != 0; });
}

bool SEQUENCE::BitMap::operator==(BitMap const& other) const
{
    return count_ == other.count_ && std::memcmp(bytes(), other.bytes(), (count_ + 7) / 8) == 0;
}

// ---- SEQUENCE ------------------------------------------------------------------

const std::uint32_t SEQUENCE::defaultTag = 0;

AbstractData* SEQUENCE::create(void const* info) { return new SEQUENCE(info); }

SEQUENCE::SEQUENCE(void const* info) : AbstractData(info)
{
    SequenceInfo const* d = seqInfo();
    fields_.resize(std::size_t(d->rootCount) + d->extensionCount);
    optionalMap_.resize(d->optionalCount);
    for (std::uint32_t i = 0; i < d->rootCount; ++i) {
        if (d->fieldIds[i] == -1)
            fields_[i].reset(AbstractData::create(d->fieldInfos[i]));
    }
    if (d->initialExtensionMap) {
        extensionMap_.resize(d->extensionCount);
        for (std::uint32_t j = 0; j < d->extensionCount; ++j) {
            if ((d->initialExtensionMap[j / 8] >> (7 - j % 8)) & 1) {
                extensionMap_.set(j);
                fields_[d->rootCount + j].reset(AbstractData::create(d->fieldInfos[d->rootCount + j]));
            }
        }
    }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other), optionalMap_(other.optionalMap_), extensionMap_(other.extensionMap_)
{
    fields_.resize(other.fields_.size());
    for (std::size_t i = 0; i < other.fields_.size(); ++i) {
        if (other.fields_[i])
            fields_[i].reset(other.fields_[i]->clone());
    }
}

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other)
{
    if (this == &other)
        return *this;
    FieldVector copies(other.fields_.size());
    for (std::size_t i = 0; i < other.fields_.size(); ++i) {
        if (other.fields_[i])
            copies[i].reset(other.fields_[i]->clone());
    }
    BitMap optional = other.optionalMap_;
    BitMap extension = other.extensionMap_;
    fields_.swap(copies);
    optionalMap_ = std::move(optional);
    extensionMap_ = std::move(extension);
    return *this;  // the old field values go with copies
}

SEQUENCE::~SEQUENCE() = default;

void SEQUENCE::swap(SEQUENCE& other)
{
    fields_.swap(other.fields_);
    std::swap(optionalMap_, other.optionalMap_);
    std::swap(extensionMap_, other.extensionMap_);
}

bool SEQUENCE::hasOptionalField(unsigned bit) const
{
    if (bit < optionalMap_.size())
        return optionalMap_[bit];
    return extensionMap_[bit - optionalMap_.size()];
}

AbstractData* SEQUENCE::includeOptionalField(unsigned bit, unsigned index)
{
    if (index >= fields_.size())
        return nullptr;  // no such field: nothing to mark
    if (bit < optionalMap_.size()) {
        optionalMap_.set(bit);
    } else {
        unsigned e = bit - optionalMap_.size();
        if (e >= extensionMap_.size())
            extensionMap_.resize(e + 1);
        extensionMap_.set(e);
    }
    if (!fields_[index])
        fields_[index].reset(AbstractData::create(seqInfo()->fieldInfos[index]));
    return fields_[index].get();
}

void SEQUENCE::removeOptionalField(unsigned bit)
{
    if (bit < optionalMap_.size())
        optionalMap_.clear(bit);
    else
        extensionMap_.clear(bit - optionalMap_.size());
}

unsigned SEQUENCE::getFieldTag(int index) const
{
    SequenceInfo const* d = seqInfo();
    if (!d->fieldTags)
        return makeTag(ContextSpecificTagClass, static_cast<std::uint32_t>(index));
    if (d->fieldTags == &defaultTag)
        return static_cast<TypeInfo const*>(d->fieldInfos[index])->tag;
    return d->fieldTags[index];
}

int SEQUENCE::tagMode() const
{
    SequenceInfo const* d = seqInfo();
    if (!d->fieldTags)
        return 0;
    return d->fieldTags == &defaultTag ? 2 : 1;
}

namespace {

int compareFields(AbstractData const* a, AbstractData const* b)
{
    if (a && b)
        return a->compare(*b);
    return int(a != nullptr) - int(b != nullptr);
}

} // namespace

int SEQUENCE::do_compare(AbstractData const& other) const
{
    SEQUENCE const* o = detail::sameKind<SEQUENCE>(other);
    if (!o)
        return 1;
    SequenceInfo const* d = seqInfo();
    std::size_t count = std::min(fields_.size(), o->fields_.size());
    int lastBit = -1;
    for (std::uint32_t i = 0; i < d->rootCount && i < count; ++i) {
        int id = d->fieldIds[i];
        int result;
        if (id == -1) {
            result = compareFields(fields_[i].get(), o->fields_[i].get());
        } else {
            lastBit = id;
            bool mine = hasOptionalField(unsigned(id));
            bool theirs = o->hasOptionalField(unsigned(id));
            result = mine && theirs ? compareFields(fields_[i].get(), o->fields_[i].get())
                                    : int(mine) - int(theirs);
        }
        if (result != 0)
            return result;
    }
    for (std::uint32_t j = 0; j < d->extensionCount && d->rootCount + j < count; ++j) {
        unsigned bit = unsigned(++lastBit);
        bool mine = hasOptionalField(bit);
        bool theirs = o->hasOptionalField(bit);
        std::size_t i = d->rootCount + j;
        int result = mine && theirs ? compareFields(fields_[i].get(), o->fields_[i].get())
                                    : int(mine) - int(theirs);
        if (result != 0)
            return result;
    }
    return 0;
}

AbstractData* SEQUENCE::do_clone() const { return detail::cloneAs(*this); }
bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- CHOICE --------------------------------------------------------------------

AbstractData* CHOICE::create(void const* info) { return new CHOICE(info); }

CHOICE::CHOICE(void const* info, int index, AbstractData* value)
    : AbstractData(info), value_(value), index_(index)
{
}

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other), value_(other.value_ ? other.value_->clone() : nullptr), index_(other.index_)
{
}

CHOICE& CHOICE::operator=(CHOICE const& other)
{
    if (this != &other) {
        std::unique_ptr<AbstractData> copy(other.value_ ? other.value_->clone() : nullptr);
        value_ = std::move(copy);
        index_ = other.index_;
    }
    return *this;
}

CHOICE::~CHOICE() = default;

void CHOICE::swap(CHOICE& other)
{
    value_.swap(other.value_);
    std::swap(index_, other.index_);
}

AbstractData* CHOICE::setSelection(int index, AbstractData* value)
{
    if (value != value_.get())
        value_.reset(value);
    index_ = index;
    return value;
}

bool CHOICE::select(int index)
{
    if (index == index_)
        return true;
    index_ = index;
    return createSelection();
}

bool CHOICE::createSelection()
{
    ChoiceInfo const* d = chInfo();
    if (index_ >= 0 && std::uint32_t(index_) < d->knownCount && d->selectionInfos[index_]) {
        std::unique_ptr<AbstractData> made(AbstractData::create(d->selectionInfos[index_]));
        if (made) {
            value_ = std::move(made);
            return true;
        }
    }
    index_ = UnknownSelection;
    value_.reset();
    return false;
}

unsigned CHOICE::getSelectionTag() const
{
    ChoiceInfo const* d = chInfo();
    if (!d->tags)
        return makeTag(ContextSpecificTagClass, static_cast<std::uint32_t>(index_));
    return d->tags[index_];
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass)
{
    ChoiceInfo const* d = chInfo();
    std::uint32_t tag = (std::uint32_t(tagClass) << 16) | tagNumber;
    if (!d->tags) {
        index_ = static_cast<int>(tagNumber);
        return createSelection();
    }
    std::uint32_t const* first = d->tags;
    std::uint32_t const* last = d->tags + d->rootCount;
    std::uint32_t const* pos = std::lower_bound(first, last, tag);
    index_ = static_cast<int>(pos - first);
    if (pos != last && *pos == tag)
        return createSelection();
    if (d->rootCount > 0 && first[0] == 0) {
        // An untagged CHOICE as the first alternative: let it take the tag.
        index_ = 0;
        if (createSelection()) {
            if (CHOICE* inner = dynamic_cast<CHOICE*>(value_.get())) {
                if (inner->setID(tagNumber, tagClass))
                    return true;
            }
        }
        index_ = UnknownSelection;
        value_.reset();
        return false;
    }
    return false;
}

int CHOICE::do_compare(AbstractData const& other) const
{
    CHOICE const* o = detail::sameKind<CHOICE>(other);
    if (!o)
        return 1;
    if (index_ < 0 || index_ != o->index_)
        return index_ - o->index_;
    return compareFields(value_.get(), o->value_.get());
}

AbstractData* CHOICE::do_clone() const { return detail::cloneAs(*this); }
bool CHOICE::do_accept(Visitor& v) { return v.visit(*this); }
bool CHOICE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

} // namespace ASN1
