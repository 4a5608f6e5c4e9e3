#pragma once
// SNMPv2c trap message builder: encodes one SNMPv2-Trap-PDU inside a
// community message (BER) into a buffer of a caller-owned record. It only
// builds bytes; the caller sends packet_len bytes from packet. No allocation.
//
// Order of calls: snmp_session_seed once, then per trap trap_init,
// trap_pack_begin, trap_pack_add (zero or more), trap_pack_end.
#include <cstdint>

enum { TRAP_PACKET_SIZE = 2048, TRAP_COMMUNITY_SIZE = 32 };

struct trap_context {
  int32_t version;
  uint32_t pdu_type;
  uint32_t request_id;
  int32_t error_status;
  int32_t error_index;
  char community[TRAP_COMMUNITY_SIZE];
  uint32_t state;  // 0 initialised, 1 header, 2 bindings, 3 finished
  unsigned char packet[TRAP_PACKET_SIZE];
  uint32_t packet_free;
  uint32_t packet_len;
  unsigned char* msg_body;
  unsigned char* pdu_header;
  unsigned char* pdu_body;
  unsigned char* varbinds_header;
  unsigned char* varbinds_body;
  unsigned char* cursor;  // null after a failed step
};

// sysUpTime.0 and snmpTrapOID.0: the two bindings a trap should start with.
extern const uint32_t objid_sysuptime[];
extern const int objid_sysuptime_len;
extern const uint32_t objid_snmptrap[];
extern const int objid_snmptrap_len;

// SNMP value type bytes accepted by trap_pack_add.
enum : unsigned char {
  SNMP_TYPE_INTEGER = 0x02,
  SNMP_TYPE_BITSTRING = 0x03,
  SNMP_TYPE_OCTETSTRING = 0x04,
  SNMP_TYPE_NULL = 0x05,
  SNMP_TYPE_OBJID = 0x06,
  SNMP_TYPE_IPADDRESS = 0x40,
  SNMP_TYPE_COUNTER32 = 0x41,
  SNMP_TYPE_GAUGE32 = 0x42,
  SNMP_TYPE_TIMETICKS = 0x43,
  SNMP_TYPE_OPAQUE = 0x44,
  SNMP_TYPE_NSAPADDRESS = 0x45,
  SNMP_TYPE_UINTEGER32 = 0x47,
};

// Hundredths of a second since boot (wraps modulo 2^32).
uint32_t get_uptime();
// The arithmetic of get_uptime for given readings.
uint32_t uptime_ticks(unsigned long seconds_since_boot, long microseconds);

int snmp_session_seed(trap_context* ctx, uint32_t seed);
int trap_init(trap_context* ctx, const char* community);
int trap_pack_begin(trap_context* ctx);
// value_len is in bytes; for an OBJECT IDENTIFIER value it is 4 times the
// sub-identifier count.
int trap_pack_add(trap_context* ctx, const uint32_t* oid, int oid_len, unsigned char type,
                  const void* value, int value_len);
int trap_pack_end(trap_context* ctx);

// Dotted decimal text to sub-identifiers; returns how many were stored.
int parse_oid(uint32_t* out, int capacity, const char* text);
