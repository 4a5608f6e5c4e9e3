// Look-ups in the generated catalogue.
#include "messages/catalog.h"

#include <cstring>

namespace Messages {

ModuleEntry const* findModule(char const* name)
{
    for (ModuleEntry const* m = catalogModules; m->name; ++m) {
        if (std::strcmp(m->name, name) == 0) {
            return m;
        }
    }
    return nullptr;
}

TypeEntry const* findType(char const* module, char const* name)
{
    ModuleEntry const* m = findModule(module);
    if (!m) {
        return nullptr;
    }
    for (unsigned i = 0; i < m->count; ++i) {
        if (std::strcmp(m->types[i].name, name) == 0) {
            return &m->types[i];
        }
    }
    return nullptr;
}

} // namespace Messages
