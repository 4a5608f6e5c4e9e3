// fuzz-links: monitoring control hardware messages asn1 runtime
// fuzz-max-len: 4096
// The configuration file on arbitrary text: it is read, dumped, its
// "traces" section applied, its "snmpagent" section turned into agent
// links (inside a network namespace of the process's own), and every key
// of every subsection read as a boolean, a number, a symbol and a text.
// Nothing may crash or leak; a file read twice gives the same tree.
#include <sys/mman.h>
#include <unistd.h>

#include <sstream>

#include "daemon_harness.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "runtime/log/traces.h"

namespace {

const IniFile::Symbol<int> kSymbols[] = {{"low", 1}, {"high", 2}, {nullptr, 0}};

std::string Dump(const IniFile::File& f) {
  std::ostringstream os;
  f.Dump(os);
  return os.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzd::Quiet();
  fuzzd::PrivateNetwork();
  fuzzd::Root();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = ::memfd_create("server.conf", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();

  IniFile::File file;
  if (!file.Open(path)) std::abort();
  const std::string dump = Dump(file);
  IniFile::File again(path);
  if (Dump(again) != dump) std::abort();

  traces = TraceCtl();
  traces.Configure(*file["traces"]);
  {
    SnmpAgentCtrl agents;
    agents.CreateInstances(*file["snmpagent"]);
  }
  std::ostringstream report;
  for (IniFile::Section& section : file)
    for (IniFile::SubSection& sub : section)
      for (IniFile::Key& key : sub) {
        bool flag = false;
        int number = 0, symbol = 0;
        std::string text;
        IniFile::Reader reader("fuzz: ", report);
        reader.mOptional.add<bool>(&flag, key.GetName().c_str());
        IniFile::Reader numbers("fuzz: ", report);
        numbers.mOptional.add<int>(&number, key.GetName().c_str());
        numbers.mOptional.add<std::string>(&text, key.GetName().c_str());
        IniFile::Reader symbols("fuzz: ", report);
        symbols.mRequired.add<int>(&symbol, key.GetName().c_str(), kSymbols);
        reader(sub);
        numbers(sub);
        symbols(sub);
        for (IniFile::SubKey& v : key) {
          (void)v.GetBool(false);
          (void)v.GetInt(0);
          (void)v.GetFloat(0);
        }
      }
  traces = TraceCtl();
  return 0;
}
