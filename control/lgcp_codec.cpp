#include "control/lgcp_codec.h"

#include <iterator>
#include <ostream>

#include "asn1/coder.h"
#include "asn1/notation/printer.h"

namespace LgcpCodec {

bool Encode(const LGCP::Message& m, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(m, &env, std::back_inserter(out));
}

bool EncodeTo(const LGCP::Message& m, std::vector<char>& out) {
  ASN1::CoderEnv env;
  return env.encodePERBytes(m, out);
}

bool Decode(const char* first, const char* last, LGCP::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(first, last, &env, m, true);
}

void Print(std::ostream& os, const LGCP::Message& m) { os << m; }

}  // namespace LgcpCodec
