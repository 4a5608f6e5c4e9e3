#pragma once
// Per-area trace switches, read from the configuration section "traces"
// (keys "signalling.hdlc", "signalling.vorkgw", "monitoring.internal").
// All switches are off until the configuration says otherwise.

namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

struct TraceCtl {
  struct Signalling {
    bool hdlc = false;
    bool vorkgw = false;
  } signalling;
  struct Monitoring {
    bool internal = false;
  } monitoring;

  void reset() { *this = TraceCtl(); }

  // Applies every subsection of the section in file order; the last one
  // decides all three switches. Defined with the configuration reader.
  void Configure(IniFile::Section& section);
  void Configure(IniFile::SubSection& sub);
};

extern TraceCtl traces;
