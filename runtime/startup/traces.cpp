// Reading the trace switches from the configuration section "traces".
#include <iostream>

#include "runtime/config/inifile.h"
#include "runtime/log/traces.h"

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) Configure(sub);
}

void TraceCtl::Configure(IniFile::SubSection& sub) {
  // A switch this occurrence does not name is off.
  signalling.hdlc = false;
  signalling.vorkgw = false;
  monitoring.internal = false;
  IniFile::Reader reader("traces: ", std::cerr);
  reader.mOptional.add<bool>(&signalling.hdlc, "signalling.hdlc");
  reader.mOptional.add<bool>(&signalling.vorkgw, "signalling.vorkgw");
  reader.mOptional.add<bool>(&monitoring.internal, "monitoring.internal");
  reader(sub);
}
