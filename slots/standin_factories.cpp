#include "slots/standin_factories.h"

#define TSD_STANDIN_INSTANCE(Class) \
  Class& Class::instance() {        \
    static Class factory;           \
    return factory;                 \
  }

