// The whole ASN.1 value model.
#ifndef TSD_ASN1_VALUES_ALL_H
#define TSD_ASN1_VALUES_ALL_H

#include "asn1/values/info.h"
#include "asn1/values/abstract_data.h"
#include "asn1/values/primitives.h"
#include "asn1/values/strings.h"
#include "asn1/values/sequence.h"
#include "asn1/values/sequence_of.h"
#include "asn1/values/visitor.h"

#endif
