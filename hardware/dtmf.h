#pragma once
// The standard DTMF frequency table (low group freq1, high group freq2,
// indexed like strRep) and a character-to-frequency-pair map built from it.
#include <map>
#include <utility>

namespace Dtmf {

extern const char strRep[];
extern const unsigned short freq1[];
extern const unsigned short freq2[];
constexpr int NumTones = 16;

class TonesValidator : public std::map<char, std::pair<unsigned short, unsigned short>> {
 public:
  TonesValidator();
};

extern TonesValidator tonesValidator;

}  // namespace Dtmf
