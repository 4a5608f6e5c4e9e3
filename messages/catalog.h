// Catalogue of the generated message modules: every module's type
// descriptions, the SEQUENCE OF / SET OF descriptions they use, and the
// modules whose text could not be used when the build generated them.
// Written by the generator (catalog.cpp in the generated folder).
#ifndef TSD_MESSAGES_CATALOG_H
#define TSD_MESSAGES_CATALOG_H

namespace Messages {

enum TypeKind { SequenceKind, ChoiceKind, EnumeratedKind };

struct TypeEntry {
    char const* module;
    char const* name;       // C++ class name within the module's namespace
    TypeKind kind;
    void const* info;       // the type's theInfo
};

struct ModuleEntry {
    char const* name;
    TypeEntry const* types;
    unsigned count;
};

// Every generated module in name order; ends with an entry whose name is null.
extern ModuleEntry const catalogModules[];
// Modules left out of the build because their text could not be used; ends with null.
extern char const* const catalogSkipped[];
// Every SEQUENCE OF and SET OF description the modules use; ends with null.
extern void const* const catalogSequenceOfs[];

// The module of that name, or null.
ModuleEntry const* findModule(char const* name);
// The description of Module::Type, or null.
TypeEntry const* findType(char const* module, char const* name);

} // namespace Messages

#endif
