#pragma once
// Host helpers: interface addresses, host name, process lookup in "/proc"
// (through RootPath), a time-stamp writer and two terminal helpers.
#include <iosfwd>
#include <list>
#include <string>

#include "runtime/os/inet4.h"

namespace Net {

// Mode bits of ifconfig: 0 selects every IPv4 interface.
typedef int ifconfig_mode_t;
const ifconfig_mode_t ifconfig_all = 0;
const ifconfig_mode_t ifconfig_not_loopback = 1;  // name is not "lo"
const ifconfig_mode_t ifconfig_link_local = 2;    // 169.254.0.0/16
const ifconfig_mode_t ifconfig_private = 4;       // 10/8, 172.16/12, 192.168/16

std::string hostname();
int hostname(const std::string& name);
// Appends the selected interface addresses (port 0) in the kernel's order;
// the number appended, or -1 when the interface list cannot be had.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// One IPv4 record of the kernel's interface list.
struct IfEntry {
  std::string name;
  INet4::Addr addr;
};
// The IPv4 records of an SIOCGIFCONF answer (records of this platform's
// ifreq size), in the kernel's order.
std::list<IfEntry> ifconf_entries(const void* records, int bytes);
// The selection test of ifconfig for one interface.
bool ifconfig_selects(const char* ifname, unsigned int host_order_addr, ifconfig_mode_t mode);

}  // namespace Net

// The pid of a process whose command name equals name, trying pid first,
// then scanning "/proc"; -1 when none.
int find_proc_by_name(const char* name, int pid);

// Local time "%d/%m %H:%M:%S".
std::ostream& timestamp(std::ostream& os);

namespace Console {
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
}  // namespace Console
