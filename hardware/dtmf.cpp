#include "hardware/dtmf.h"

namespace Dtmf {

const char strRep[] = "0123456789*#ABCD";
const unsigned short freq1[NumTones] = {941, 697, 697, 697, 770, 770, 770, 852,
                                        852, 852, 941, 941, 697, 770, 852, 941};
const unsigned short freq2[NumTones] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                        1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

TonesValidator::TonesValidator() {
  for (int i = 0; i < NumTones; ++i) insert(value_type(strRep[i], std::make_pair(freq1[i], freq2[i])));
}

TonesValidator tonesValidator;

}  // namespace Dtmf
