// Visitors: the coders, the printer and the checkers receive one call per
// value class; a SEQUENCE is walked field by field by the walks below.
#ifndef TSD_ASN1_VALUES_VISITOR_H
#define TSD_ASN1_VALUES_VISITOR_H

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class CoderEnv;

// Reading visitor (encoders, printer, checkers). Every operation answers
// true to go on, false when the visit failed.
class ConstVisitor {
public:
    virtual ~ConstVisitor() = default;

    bool visit(Null const& v) { return do_visit(v); }
    bool visit(BOOLEAN const& v) { return do_visit(v); }
    bool visit(INTEGER const& v) { return do_visit(v); }
    bool visit(IntegerWithNamedNumber const& v) { return do_visit(v); }
    bool visit(ENUMERATED const& v) { return do_visit(v); }
    bool visit(OBJECT_IDENTIFIER const& v) { return do_visit(v); }
    bool visit(BIT_STRING const& v) { return do_visit(v); }
    bool visit(OCTET_STRING const& v) { return do_visit(v); }
    bool visit(AbstractString const& v) { return do_visit(v); }
    bool visit(BMPString const& v) { return do_visit(v); }
    bool visit(GeneralizedTime const& v) { return do_visit(v); }
    bool visit(CHOICE const& v) { return do_visit(v); }
    bool visit(SEQUENCE_OF_Base const& v) { return do_visit(v); }
    bool visit(OpenData const& v) { return do_visit(v); }
    // The reading walk: preVisitExtensionRoots; visitExtensionRoot for each
    // present root field; when the extension map has a set bit,
    // preVisitExtensions and visitKnownExtension for each present known
    // addition; then afterVisitSequence. A false ends the walk with false.
    bool visit(SEQUENCE const& v);

    // The slots (public so that visitors can be composed).
    virtual bool do_visit(AbstractData const&) { return true; }
    virtual bool do_visit(Null const& v);
    virtual bool do_visit(BOOLEAN const& v);
    virtual bool do_visit(INTEGER const& v);
    virtual bool do_visit(IntegerWithNamedNumber const& v);  // as INTEGER
    virtual bool do_visit(ENUMERATED const& v);
    virtual bool do_visit(OBJECT_IDENTIFIER const& v);
    virtual bool do_visit(BIT_STRING const& v);
    virtual bool do_visit(OCTET_STRING const& v);
    virtual bool do_visit(AbstractString const& v);
    virtual bool do_visit(BMPString const& v);
    virtual bool do_visit(CHOICE const& v);
    virtual bool do_visit(OpenData const& v);
    virtual bool do_visit(GeneralizedTime const& v);
    virtual bool do_visit(SEQUENCE_OF_Base const& v);
    // Default: do_visit(AbstractData const&) with the SEQUENCE.
    virtual bool preVisitExtensionRoots(SEQUENCE const& v);
    // Defaults: false (a visitor must override them to accept fields).
    virtual bool visitExtensionRoot(SEQUENCE const&, int /*index*/) { return false; }
    virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
    virtual bool visitKnownExtension(SEQUENCE const&, int /*index*/) { return false; }
    virtual bool afterVisitSequence(SEQUENCE const&) { return true; }
};

// Filling visitor (decoders).
class Visitor {
public:
    // Codes of the filling walk's SEQUENCE hooks.
    enum WalkCode : int {
        Fail = 0,            // failure: the walk ends with false
        Stop = 1,            // stop with success
        Continue = 2,        // go on (preVisitExtensionRoots: root fields only)
        ContinueAll = 3      // go on, including the extension part
    };

    explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
    virtual ~Visitor() = default;
    CoderEnv* get_env() const { return env_; }

    bool visit(Null& v) { return do_visit(v); }
    bool visit(BOOLEAN& v) { return do_visit(v); }
    bool visit(INTEGER& v) { return do_visit(v); }
    bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
    bool visit(ENUMERATED& v) { return do_visit(v); }
    bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
    bool visit(BIT_STRING& v) { return do_visit(v); }
    bool visit(OCTET_STRING& v) { return do_visit(v); }
    bool visit(AbstractString& v) { return do_visit(v); }
    bool visit(BMPString& v) { return do_visit(v); }
    bool visit(GeneralizedTime& v) { return do_visit(v); }
    bool visit(CHOICE& v) { return do_visit(v); }
    bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
    bool visit(OpenData& v) { return do_visit(v); }
    bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
    bool revisit(OpenData& v) { return do_revisit(v); }
    // The filling walk: preVisitExtensionRoots (<= 1 ends: 0 false, else
    // true); visitExtensionRoot for every root field, present or not, with
    // its fieldIds entry (<= 1 ends); unless the first code was 3, true;
    // preVisitExtensions (not 3 ends: 0 false, else true);
    // visitKnownExtension for each known addition with its optional bit
    // (not 3 ends likewise); then visitUnknownExtensions.
    bool visit(SEQUENCE& v);

    // The slots (public so that visitors can be composed).
    virtual bool do_visit(Null& v) = 0;
    virtual bool do_visit(BOOLEAN& v) = 0;
    virtual bool do_visit(INTEGER& v) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& v);  // as INTEGER
    virtual bool do_visit(ENUMERATED& v) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER& v) = 0;
    virtual bool do_visit(OCTET_STRING& v) = 0;
    virtual bool do_visit(BIT_STRING& v) = 0;
    virtual bool do_visit(AbstractString& v) = 0;
    virtual bool do_visit(BMPString& v) = 0;
    virtual bool do_visit(CHOICE& v) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base& v) = 0;
    virtual bool do_visit(OpenData& v) = 0;
    virtual bool do_revisit(OpenData& v) = 0;
    virtual bool do_visit(TypeConstrainedOpenData& v) = 0;
    virtual bool do_visit(GeneralizedTime& v) = 0;
    virtual int preVisitExtensionRoots(SEQUENCE&) { return ContinueAll; }
    virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalBit*/) { return Fail; }
    virtual int preVisitExtensions(SEQUENCE&) { return ContinueAll; }
    virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalBit*/) { return Fail; }
    virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }

private:
    CoderEnv* env_;
};

} // namespace ASN1

#endif
