// SEQUENCE and CHOICE values, driven entirely by their descriptions.
#ifndef TSD_ASN1_VALUES_SEQUENCE_H
#define TSD_ASN1_VALUES_SEQUENCE_H

#include "asn1/values/abstract_data.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ASN1 {

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
public:
    // Presence bits, most significant bit of each byte first (the order in
    // which the PER coders write and read them).
    class BitMap {
    public:
        unsigned size() const { return count_; }
        bool empty() const { return count_ == 0; }
        // False at or beyond size().
        bool operator[](unsigned bit) const;
        // Grows or shrinks; new bits are clear.
        void resize(unsigned count);
        // Out-of-range bits are ignored.
        void set(unsigned bit);
        void clear(unsigned bit);
        // At least one bit set.
        bool any() const;
        // (size() + 7) / 8 bytes.
        unsigned char const* bytes() const { return heap_ ? heap_.get() : inline_; }
        bool operator==(BitMap const& other) const;
        bool operator!=(BitMap const& other) const { return !(*this == other); }

        BitMap() = default;
        BitMap(BitMap const& other) { *this = other; }
        BitMap& operator=(BitMap const& other);

    private:
        unsigned char* data() { return heap_ ? heap_.get() : inline_; }

        // Maps of up to 128 bits (every map the coders read) live inline.
        std::uint32_t count_ = 0;
        std::uint32_t capacity_ = sizeof inline_;
        unsigned char inline_[16] = {};
        std::unique_ptr<unsigned char[]> heap_;
    };

    // One owned value per field (null while the field has no value object),
    // root fields first, then the known extension additions.
    using FieldVector = std::vector<std::unique_ptr<AbstractData>, detail::PoolAllocator<std::unique_ptr<AbstractData>>>;

    // Its address in word 9 makes every field carry its own type's tag.
    static const std::uint32_t defaultTag;

    static AbstractData* create(void const* info);

    // Sizes the fields and the optional map from the description and creates
    // every mandatory root field (and the extension additions set in an
    // initial extension map).
    explicit SEQUENCE(void const* info);
    SEQUENCE(SEQUENCE const& other);
    SEQUENCE& operator=(SEQUENCE const& other);
    ~SEQUENCE() override;
    void swap(SEQUENCE& other);
    SEQUENCE* clone() const { return static_cast<SEQUENCE*>(do_clone()); }

    // Optional bit b < number of OPTIONAL root fields is the optional map's
    // bit b; a larger b is extension bit b - that number.
    bool hasOptionalField(unsigned bit) const;
    // Sets the presence bit (growing the extension map as needed) and creates
    // the field's value when it has none; an existing value keeps its
    // contents. Returns the field's value.
    AbstractData* includeOptionalField(unsigned bit, unsigned index);
    // Clears the presence bit; the value object stays.
    void removeOptionalField(unsigned bit);

    // Null when the field has no value object (or there is no such field).
    AbstractData* getField(unsigned index)
    {
        return index < fields_.size() ? fields_[index].get() : nullptr;
    }
    AbstractData const* getField(unsigned index) const
    {
        return index < fields_.size() ? fields_[index].get() : nullptr;
    }
    char const* getFieldName(int index) const { return seqInfo()->fieldNames[index]; }
    unsigned getFieldTag(int index) const;
    // 0 context tags, 1 explicit tag array, 2 the fields' own tags.
    int tagMode() const;
    bool extendable() const { return seqInfo()->extensible; }

    // Description readers for the coders.
    SequenceInfo const* sequenceInfo() const { return seqInfo(); }
    unsigned getNumRootFields() const { return seqInfo()->rootCount; }
    unsigned getNumKnownExtensions() const { return seqInfo()->extensionCount; }
    unsigned getNumFields() const { return static_cast<unsigned>(fields_.size()); }
    unsigned getNumOptionalFields() const { return seqInfo()->optionalCount; }
    // -1 for a mandatory root field, else its optional bit.
    int getFieldId(unsigned index) const { return seqInfo()->fieldIds[index]; }
    void const* getFieldInfo(unsigned index) const { return seqInfo()->fieldInfos[index]; }

    BitMap const& getOptionalMap() const { return optionalMap_; }
    BitMap const& getExtensionMap() const { return extensionMap_; }
    // The decoders size the extension map to what the encoding announces.
    BitMap& getExtensionMap() { return extensionMap_; }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    SequenceInfo const* seqInfo() const { return static_cast<SequenceInfo const*>(info()); }

    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
public:
    enum : int { NoSelection = -1, UnknownSelection = -2 };

    static AbstractData* create(void const* info);

    // Takes ownership of value (may be null) and stores index unchanged.
    explicit CHOICE(void const* info, int index = NoSelection, AbstractData* value = nullptr);
    CHOICE(CHOICE const& other);
    CHOICE& operator=(CHOICE const& other);
    ~CHOICE() override;
    void swap(CHOICE& other);
    CHOICE* clone() const { return static_cast<CHOICE*>(do_clone()); }

    // -1 nothing selected, -2 unknown selection, else the alternative.
    int currentSelection() const { return index_; }
    AbstractData* getSelection() { return value_.get(); }
    AbstractData const* getSelection() const { return value_.get(); }
    // Destroys the held value, takes ownership of value, stores index.
    AbstractData* setSelection(int index, AbstractData* value);
    // The current index: true, nothing changes. Otherwise stores index and
    // creates its value (createSelection).
    bool select(int index);
    // Creates the value of the stored index; an unknown index (or a missing
    // alternative description) leaves -2 and no value and answers false.
    bool createSelection();

    // The selected alternative's name; null unless a known one is selected.
    char const* getSelectionName() const
    {
        return index_ >= 0 && std::uint32_t(index_) < chInfo()->knownCount && chInfo()->selectionNames
                   ? chInfo()->selectionNames[index_]
                   : nullptr;
    }
    unsigned getSelectionTag() const;
    bool isUnknownSelection() const { return index_ == UnknownSelection; }
    // Root alternatives only.
    unsigned getNumChoices() const { return chInfo()->rootCount; }
    unsigned getNumKnownChoices() const { return chInfo()->knownCount; }
    bool extendable() const { return chInfo()->extensible; }
    ChoiceInfo const* choiceInfo() const { return chInfo(); }

    // Selects the alternative carrying a decoded tag (BER decoder).
    bool setID(unsigned tagNumber, unsigned tagClass);

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    ChoiceInfo const* chInfo() const { return static_cast<ChoiceInfo const*>(info()); }

    std::unique_ptr<AbstractData> value_;
    std::int32_t index_;
};

} // namespace ASN1

#endif
