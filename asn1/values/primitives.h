// Primitive ASN.1 value classes.
#ifndef TSD_ASN1_VALUES_PRIMITIVES_H
#define TSD_ASN1_VALUES_PRIMITIVES_H

#include "asn1/values/abstract_data.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ASN1 {

class Null : public AbstractData, public detail::Allocator<Null> {
public:
    static const TypeInfo theInfo;  // Null::create, 5
    static AbstractData* create(void const* info);

    Null() : AbstractData(&theInfo) {}
    explicit Null(void const* info) : AbstractData(info) {}
    Null(Null const&) = default;
    Null& operator=(Null const&) = default;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
public:
    static const TypeInfo theInfo;  // BOOLEAN::create, 1
    static AbstractData* create(void const* info);

    explicit BOOLEAN(void const* info) : AbstractData(info) {}
    BOOLEAN(bool value, void const* info) : AbstractData(info), value_(value) {}
    BOOLEAN(BOOLEAN const&) = default;
    BOOLEAN& operator=(BOOLEAN const&) = default;
    BOOLEAN& operator=(bool value) { value_ = value; return *this; }
    operator bool() const { return value_; }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    bool value_ = false;
};

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
public:
    static const ConstrainedInfo theInfo;  // INTEGER::create, 2, 0, 0, 0xFFFFFFFF
    static AbstractData* create(void const* info);

    explicit INTEGER(void const* info) : ConstrainedObject(info) {}
    INTEGER(int value, void const* info) : ConstrainedObject(info), value_(value) {}
    INTEGER(INTEGER const&) = default;
    INTEGER& operator=(INTEGER const&) = default;
    INTEGER& operator=(int value) { value_ = value; return *this; }

    void setValue(int value) { value_ = value; }
    int getValue() const { return value_; }
    bool operator==(INTEGER const& other) const { return value_ == other.value_; }
    bool operator!=(INTEGER const& other) const { return value_ != other.value_; }
    using AbstractData::operator==;
    using AbstractData::operator!=;
    INTEGER* clone() const { return static_cast<INTEGER*>(do_clone()); }

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::int32_t value_ = 0;
};

class IntegerWithNamedNumber : public INTEGER {
public:
    using NameEntry = NamedNumberEntry;
    static AbstractData* create(void const* info);

    explicit IntegerWithNamedNumber(void const* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int value, void const* info) : INTEGER(value, info) {}
    IntegerWithNamedNumber(IntegerWithNamedNumber const&) = default;
    IntegerWithNamedNumber& operator=(IntegerWithNamedNumber const&) = default;
    using INTEGER::operator=;

    // The name of the stored value; false when it has none.
    bool getName(std::string& name) const;
    // Stores the value of the entry named; false (value unchanged) when none.
    bool setFromName(std::string const& name);

protected:
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
public:
    static AbstractData* create(void const* info);

    explicit ENUMERATED(void const* info) : AbstractData(info) {}
    ENUMERATED(ENUMERATED const&) = default;
    ENUMERATED& operator=(ENUMERATED const& other) { value_ = other.value_; return *this; }

    // The enumerator's number (not its position in the names table).
    int asInt() const { return value_; }
    void setFromInt(int value) { value_ = value; }
    int getMaximum() const { return enumInfo()->maximum; }
    bool extendable() const { return enumInfo()->extensible; }

    // The identifier of the enumerator numbered asInt() (looked up by
    // number, never by position); null when no enumerator has the number.
    char const* getName() const;
    // Stores the number of the enumerator named; when none is, stores
    // maximum + 1 and answers false.
    bool setFromName(std::string const& name);

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    EnumeratedInfo const* enumInfo() const { return static_cast<EnumeratedInfo const*>(info()); }
    std::int32_t value_ = 0;
};

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
public:
    static const TypeInfo theInfo;  // OBJECT_IDENTIFIER::create, 6
    static AbstractData* create(void const* info);

    explicit OBJECT_IDENTIFIER(void const* info) : AbstractData(info) {}
    OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const&) = default;
    OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const&) = default;

    unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
    unsigned operator[](unsigned index) const { return arcs_[index]; }
    void append(unsigned arc) { arcs_.push_back(arc); }

    // Contents octets (X.690), inserted at the front of out. Fewer than two
    // arcs: out is emptied.
    void encodeCommon(std::vector<char>& out) const;
    // Replaces the arcs from contents octets; false when they end inside a
    // subidentifier.
    bool decodeCommon(char const* data, unsigned length);

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::vector<std::uint32_t> arcs_;
};

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
public:
    static const ConstrainedInfo theInfo;  // BIT_STRING::create, 3, 0, 0, 0xFFFFFFFF
    static AbstractData* create(void const* info);

    explicit BIT_STRING(void const* info) : ConstrainedObject(info) {}
    BIT_STRING(BIT_STRING const&) = default;
    BIT_STRING& operator=(BIT_STRING const&) = default;

    unsigned size() const { return count_; }
    // Bit i is bit 7 - (i mod 8) of byte i / 8; false at or beyond size().
    bool operator[](unsigned index) const;
    // (n + 7) / 8 bytes (new bytes 0, kept bytes unchanged), count n.
    void resize(unsigned n);
    // Sets or clears bit index (< size()).
    void set(unsigned index, bool value);
    std::vector<char> const& getData() const { return bytes_; }
    // The storage in place, for the decoders (keep its size (size() + 7) / 8).
    std::vector<char>& getData() { return bytes_; }

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::uint32_t count_ = 0;
    std::vector<char> bytes_;
};

class OCTET_STRING : public ConstrainedObject,
                     public std::vector<char>,
                     public detail::Allocator<OCTET_STRING> {
public:
    static const ConstrainedInfo theInfo;  // OCTET_STRING::create, 4, 0, 0, 0xFFFFFFFF
    static AbstractData* create(void const* info);

    OCTET_STRING() : ConstrainedObject(&theInfo) {}
    explicit OCTET_STRING(void const* info) : ConstrainedObject(info) {}
    OCTET_STRING(size_type count, char value, void const* info)
        : ConstrainedObject(info), std::vector<char>(count, value) {}
    OCTET_STRING(std::vector<char> const& octets, void const* info)
        : ConstrainedObject(info), std::vector<char>(octets) {}
    OCTET_STRING(OCTET_STRING const&) = default;
    OCTET_STRING& operator=(OCTET_STRING const&) = default;
    OCTET_STRING& operator=(std::vector<char> const& octets)
    {
        std::vector<char>::operator=(octets);
        return *this;
    }
    operator std::string() const { return std::string(begin(), end()); }

    using AbstractData::operator==;
    using AbstractData::operator!=;

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
public:
    static const TypeInfo theInfo;  // GeneralizedTime::create, 24
    static AbstractData* create(void const* info);

    GeneralizedTime() : AbstractData(&theInfo) {}
    explicit GeneralizedTime(void const* info) : AbstractData(info) {}
    explicit GeneralizedTime(char const* text) : AbstractData(&theInfo) { set(text); }
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                    int millisec, int mindiff, bool utc);
    GeneralizedTime(GeneralizedTime const&) = default;
    GeneralizedTime& operator=(GeneralizedTime const& other);
    void swap(GeneralizedTime& other);

    // Reads "YYYYMMDDhhmmss[.f][Z|(+|-)hhmm]"; fields the text does not
    // supply keep their values.
    void set(char const* text);
    std::string get() const;
    long get_time_t() const;
    void set_time_t(long t);

    int getYear() const { return year_; }
    int getMonth() const { return month_; }
    int getDay() const { return day_; }
    int getHour() const { return hour_; }
    int getMinute() const { return minute_; }
    int getSecond() const { return second_; }
    int getMillisec() const { return millisec_; }
    int getMinutesFromUTC() const { return mindiff_; }
    bool getUTC() const { return utc_; }

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::int32_t year_ = 1, month_ = 1, day_ = 1, hour_ = 0, minute_ = 0, second_ = 0;
    std::int32_t millisec_ = 0, mindiff_ = 0;
    bool utc_ = false;
};

// Open type: the carried value (when its type is known), its encoding
// (when it is not), both or neither.
class OpenData : public AbstractData, public detail::Allocator<OpenData> {
public:
    static const TypeInfo theInfo;  // OpenData::create, 0
    static AbstractData* create(void const* info);

    // Takes ownership of data (may be null).
    OpenData(AbstractData* data, void const* info) : AbstractData(info), data_(data) {}
    OpenData(OpenData const& other);
    OpenData& operator=(OpenData const& other);
    ~OpenData() override;

    bool has_data() const { return data_ != nullptr; }
    AbstractData& get_data() { return *data_; }
    AbstractData const& get_data() const { return *data_; }
    bool has_buf() const { return buf_ != nullptr; }
    std::vector<char>& get_buf() { return *buf_; }
    std::vector<char> const& get_buf() const { return *buf_; }
    // Takes ownership of the encoding, destroying the one held before.
    void grab(std::vector<char>* buf);
    bool isEmpty() const { return !data_ && !buf_; }
    void swap(OpenData& other);

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    AbstractData* data_ = nullptr;
    std::vector<char>* buf_ = nullptr;
};

// Open type whose carried type is fixed by word 2 of its description.
class TypeConstrainedOpenData : public OpenData {
public:
    // Creates the carried value from word 2, then the open type holding it.
    static AbstractData* create(void const* info);

    TypeConstrainedOpenData(AbstractData* data, void const* info) : OpenData(data, info) {}
    TypeConstrainedOpenData(TypeConstrainedOpenData const&) = default;
    TypeConstrainedOpenData& operator=(TypeConstrainedOpenData const&) = default;

protected:
    bool do_accept(Visitor& v) override;
    // The const visit is OpenData's.
    using OpenData::do_accept;
};

} // namespace ASN1

#endif
