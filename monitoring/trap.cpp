#include "monitoring/trap.h"

#include <sys/sysinfo.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

const uint32_t objid_sysuptime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const int objid_sysuptime_len = 9;
const uint32_t objid_snmptrap[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const int objid_snmptrap_len = 11;

namespace {

typedef unsigned char byte;

const uint32_t kMaxSubIds = 128;

// Each encoder writes at pos, lowers *free by what it wrote and returns the
// position after it, or null (nothing promised about *free) on failure.

byte* asn_build_length(byte* pos, uint32_t* free, uint32_t len) {
  if (!pos) return nullptr;
  if (len < 0x80) {
    if (*free < 1) return nullptr;
    *pos++ = static_cast<byte>(len);
    *free -= 1;
  } else if (len <= 0xFF) {
    if (*free < 2) return nullptr;
    *pos++ = 0x81;
    *pos++ = static_cast<byte>(len);
    *free -= 2;
  } else if (len <= 0xFFFF) {
    if (*free < 3) return nullptr;
    *pos++ = 0x82;
    *pos++ = static_cast<byte>(len >> 8);
    *pos++ = static_cast<byte>(len);
    *free -= 3;
  } else {
    return nullptr;
  }
  return pos;
}

byte* asn_build_header(byte* pos, uint32_t* free, byte tag, uint32_t len) {
  if (!pos || *free < 1) return nullptr;
  *pos++ = tag;
  *free -= 1;
  return asn_build_length(pos, free, len);
}

// A header followed by room for its content.
byte* _asn_build_header_check(byte* pos, uint32_t* free, byte tag, uint32_t len) {
  byte* p = asn_build_header(pos, free, tag, len);
  if (!p || *free < len) return nullptr;
  return p;
}

// Always the four-byte form, so the length can be rewritten in place.
byte* asn_build_sequence(byte* pos, uint32_t* free, byte tag, uint32_t len) {
  if (!pos || *free < 4 || len > 0xFFFF) return nullptr;
  pos[0] = tag;
  pos[1] = 0x82;
  pos[2] = static_cast<byte>(len >> 8);
  pos[3] = static_cast<byte>(len);
  *free -= 4;
  return pos + 4;
}

byte* asn_build_int(byte* pos, uint32_t* free, byte tag, const int32_t* value, int size) {
  if (size != 4 || !value) return nullptr;
  uint32_t v = static_cast<uint32_t>(*value);
  int n = 4;
  // Drop a leading byte while the top nine bits are all equal.
  while (n > 1) {
    uint32_t top9 = (v >> ((n - 1) * 8 - 1)) & 0x1FF;
    if (top9 != 0 && top9 != 0x1FF) break;
    --n;
  }
  byte* p = _asn_build_header_check(pos, free, tag, static_cast<uint32_t>(n));
  if (!p) return nullptr;
  for (int i = n - 1; i >= 0; --i) *p++ = static_cast<byte>(v >> (i * 8));
  *free -= static_cast<uint32_t>(n);
  return p;
}

byte* asn_build_unsigned_int(byte* pos, uint32_t* free, byte tag, const uint32_t* value, int size) {
  if (size != 4 || !value) return nullptr;
  uint32_t v = *value;
  byte content[5];
  int n = 0;
  if (v & 0x80000000u) {
    content[n++] = 0;
    for (int i = 3; i >= 0; --i) content[n++] = static_cast<byte>(v >> (i * 8));
  } else {
    int bytes = 4;
    // Drop a leading zero byte while the next byte's top bit is clear.
    while (bytes > 1 && ((v >> ((bytes - 1) * 8)) & 0xFF) == 0 && !((v >> ((bytes - 1) * 8 - 1)) & 1)) --bytes;
    for (int i = bytes - 1; i >= 0; --i) content[n++] = static_cast<byte>(v >> (i * 8));
  }
  byte* p = _asn_build_header_check(pos, free, tag, static_cast<uint32_t>(n));
  if (!p) return nullptr;
  std::memcpy(p, content, static_cast<size_t>(n));
  *free -= static_cast<uint32_t>(n);
  return p + n;
}

// Raw bytes; a null value stands for that many zero bytes.
byte* asn_build_string(byte* pos, uint32_t* free, byte tag, const byte* value, int len) {
  if (len < 0) return nullptr;
  byte* p = _asn_build_header_check(pos, free, tag, static_cast<uint32_t>(len));
  if (!p) return nullptr;
  if (value)
    std::memcpy(p, value, static_cast<size_t>(len));
  else
    std::memset(p, 0, static_cast<size_t>(len));
  *free -= static_cast<uint32_t>(len);
  return p + len;
}

// The caller supplies the unused-bits byte as the first value byte.
byte* asn_build_bitstring(byte* pos, uint32_t* free, byte tag, const byte* value, int len) {
  if (!value || len < 1) return nullptr;
  return asn_build_string(pos, free, tag, value, len);
}

byte* asn_build_null(byte* pos, uint32_t* free, byte tag) { return asn_build_header(pos, free, tag, 0); }

int base128_size(uint64_t v) {
  int n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

byte* put_base128(byte* p, uint64_t v) {
  int n = base128_size(v);
  for (int i = n - 1; i >= 0; --i) {
    byte b = static_cast<byte>((v >> (i * 7)) & 0x7F);
    *p++ = i ? static_cast<byte>(b | 0x80) : b;
  }
  return p;
}

byte* asn_build_objid(byte* pos, uint32_t* free, byte tag, const uint32_t* oid, uint32_t count) {
  if (count > 0 && !oid) return nullptr;
  if (count > kMaxSubIds) return nullptr;
  // The first value joins the first two sub-identifiers. Computed in 64 bits
  // so that 2.(2^32-1) does not wrap into another identifier.
  uint64_t first = 0;
  if (count >= 1) {
    if (oid[0] > 2) return nullptr;
    if (count == 1) {
      first = static_cast<uint64_t>(oid[0]) * 40;
    } else {
      if (oid[0] < 2 && oid[1] >= 40) return nullptr;
      first = static_cast<uint64_t>(oid[0]) * 40 + oid[1];
    }
  }
  uint32_t len = static_cast<uint32_t>(base128_size(first));
  for (uint32_t i = 2; i < count; ++i) len += static_cast<uint32_t>(base128_size(oid[i]));
  byte* p = _asn_build_header_check(pos, free, tag, len);
  if (!p) return nullptr;
  p = put_base128(p, first);
  for (uint32_t i = 2; i < count; ++i) p = put_base128(p, oid[i]);
  *free -= len;
  return p;
}

byte* snmp_build_var_op(byte* pos, const uint32_t* oid, const int* oid_len, byte type, int value_len,
                        const void* value, uint32_t* free) {
  if (!pos || !free || !oid_len || *oid_len < 0 || *free < 4) return nullptr;
  byte* header = pos;
  *free -= 4;
  byte* p = asn_build_objid(pos + 4, free, SNMP_TYPE_OBJID, oid, static_cast<uint32_t>(*oid_len));
  if (!p) return nullptr;
  const byte* bytes = static_cast<const byte*>(value);
  switch (type) {
    case SNMP_TYPE_INTEGER:
      p = asn_build_int(p, free, type, static_cast<const int32_t*>(value), value_len);
      break;
    case SNMP_TYPE_BITSTRING:
      p = asn_build_bitstring(p, free, type, bytes, value_len);
      break;
    case SNMP_TYPE_OCTETSTRING:
    case SNMP_TYPE_IPADDRESS:
    case SNMP_TYPE_OPAQUE:
    case SNMP_TYPE_NSAPADDRESS:
      p = asn_build_string(p, free, type, bytes, value_len);
      break;
    case SNMP_TYPE_NULL:
      p = asn_build_null(p, free, type);
      break;
    case SNMP_TYPE_OBJID:
      if (value_len < 0) return nullptr;
      p = asn_build_objid(p, free, type, static_cast<const uint32_t*>(value), static_cast<uint32_t>(value_len) / 4);
      break;
    case SNMP_TYPE_COUNTER32:
    case SNMP_TYPE_GAUGE32:
    case SNMP_TYPE_TIMETICKS:
    case SNMP_TYPE_UINTEGER32:
      p = asn_build_unsigned_int(p, free, type, static_cast<const uint32_t*>(value), value_len);
      break;
    default:
      return nullptr;
  }
  if (!p) return nullptr;
  // The binding header goes into the four bytes reserved at the start.
  uint32_t len = static_cast<uint32_t>(p - (header + 4));
  header[0] = 0x30;
  header[1] = 0x82;
  header[2] = static_cast<byte>(len >> 8);
  header[3] = static_cast<byte>(len);
  return p;
}

}  // namespace

uint32_t uptime_ticks(unsigned long seconds_since_boot, long microseconds) {
  return static_cast<uint32_t>(seconds_since_boot * 100u + static_cast<unsigned long>(microseconds / 10000));
}

uint32_t get_uptime() {
  struct sysinfo si;
  std::memset(&si, 0, sizeof si);
  sysinfo(&si);
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return uptime_ticks(static_cast<unsigned long>(si.uptime), tv.tv_usec);
}

int snmp_session_seed(trap_context* ctx, uint32_t seed) {
  if (ctx) ctx->request_id = seed;
  return 0;
}

int trap_init(trap_context* ctx, const char* community) {
  if (!ctx) return 0;
  ctx->version = 1;
  ctx->pdu_type = 0xA7;
  ctx->request_id = ((ctx->request_id * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
  ctx->error_status = 0;
  ctx->error_index = 0;
  std::memset(ctx->community, 0, sizeof ctx->community);
  const char* text = community ? community : "kestra";
  for (size_t i = 0; i + 1 < sizeof ctx->community && text[i]; ++i) ctx->community[i] = text[i];
  std::memset(ctx->packet, 0, sizeof ctx->packet);
  ctx->packet_free = TRAP_PACKET_SIZE;
  ctx->packet_len = 0;
  ctx->state = 0;
  ctx->msg_body = nullptr;
  ctx->pdu_header = nullptr;
  ctx->pdu_body = nullptr;
  ctx->varbinds_header = nullptr;
  ctx->varbinds_body = nullptr;
  ctx->cursor = ctx->packet;
  return 0;
}

int trap_pack_begin(trap_context* ctx) {
  if (!ctx || ctx->state != 0) return -1;
  ctx->state = 1;
  uint32_t* free = &ctx->packet_free;
  byte* p = ctx->packet;
  auto fail = [ctx] {
    ctx->cursor = nullptr;
    return -1;
  };
  p = asn_build_sequence(p, free, 0x30, 0);
  if (!p) return fail();
  ctx->msg_body = p;
  p = asn_build_int(p, free, SNMP_TYPE_INTEGER, &ctx->version, 4);
  if (!p) return fail();
  p = asn_build_string(p, free, SNMP_TYPE_OCTETSTRING, reinterpret_cast<const byte*>(ctx->community),
                       static_cast<int>(strnlen(ctx->community, sizeof ctx->community)));
  if (!p) return fail();
  ctx->pdu_header = p;
  p = asn_build_sequence(p, free, static_cast<byte>(ctx->pdu_type), 0);
  if (!p) return fail();
  ctx->pdu_body = p;
  int32_t request_id = static_cast<int32_t>(ctx->request_id);
  p = asn_build_int(p, free, SNMP_TYPE_INTEGER, &request_id, 4);
  if (p) p = asn_build_int(p, free, SNMP_TYPE_INTEGER, &ctx->error_status, 4);
  if (p) p = asn_build_int(p, free, SNMP_TYPE_INTEGER, &ctx->error_index, 4);
  if (!p) return fail();
  ctx->varbinds_header = p;
  p = asn_build_sequence(p, free, 0x30, 0);
  if (!p) return fail();
  ctx->varbinds_body = p;
  ctx->cursor = p;
  return 0;
}

int trap_pack_add(trap_context* ctx, const uint32_t* oid, int oid_len, unsigned char type, const void* value,
                  int value_len) {
  if (!ctx || (ctx->state != 1 && ctx->state != 2) || !ctx->cursor) return -1;
  ctx->cursor = snmp_build_var_op(ctx->cursor, oid, &oid_len, type, value_len, value, &ctx->packet_free);
  if (!ctx->cursor) return -1;
  ctx->state = 2;
  return 0;
}

int trap_pack_end(trap_context* ctx) {
  if (!ctx || (ctx->state != 1 && ctx->state != 2)) return -1;
  if (!ctx->msg_body || !ctx->pdu_header || !ctx->pdu_body || !ctx->varbinds_header || !ctx->varbinds_body ||
      !ctx->cursor)
    return -1;
  uint32_t free = TRAP_PACKET_SIZE;
  asn_build_sequence(ctx->varbinds_header, &free, 0x30, static_cast<uint32_t>(ctx->cursor - ctx->varbinds_body));
  asn_build_sequence(ctx->pdu_header, &free, static_cast<byte>(ctx->pdu_type),
                     static_cast<uint32_t>(ctx->cursor - ctx->pdu_body));
  asn_build_sequence(ctx->packet, &free, 0x30, static_cast<uint32_t>(ctx->cursor - ctx->msg_body));
  ctx->packet_len = static_cast<uint32_t>(ctx->cursor - ctx->packet);
  ctx->state = 3;
  return 0;
}

int parse_oid(uint32_t* out, int capacity, const char* text) {
  if (!out || !text || capacity <= 0) return 0;
  char copy[128];
  std::strncpy(copy, text, sizeof copy - 1);
  copy[sizeof copy - 1] = '\0';
  int n = 0;
  char* save = nullptr;
  for (char* field = strtok_r(copy, ".", &save); field && n < capacity; field = strtok_r(nullptr, ".", &save))
    out[n++] = static_cast<uint32_t>(std::strtol(field, nullptr, 10));
  return n;
}
