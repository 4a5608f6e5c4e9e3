#pragma once
// Request numbers of the board's character devices, exactly as the board's
// drivers define them (PowerPC encoding: direction in the top three bits,
// 13-bit argument size, type letter and number in the low 16 bits). They are
// kept as literals: the host's _IOW/_IOR macros encode differently.
#include <cstddef>
#include <cstdint>

namespace Board {
namespace Req {

// "/dev/hal": TDM multiplexer.
constexpr uint32_t MuxConnect = 0x80084d02;  // {output, source}
constexpr uint32_t MuxDisable = 0x80044d03;  // {output}
constexpr uint32_t MuxWrite = 0xc0084d04;    // {channel, byte}
constexpr uint32_t MuxRead = 0xc0084d05;     // {channel, value}
// "/dev/hal": clock selection and SPI line transceiver registers.
constexpr uint32_t HwClockSelect = 0x80044301;  // {source}
constexpr uint32_t SpiRead = 0xc0034203;        // 3 bytes {channel, register, data}
constexpr uint32_t SpiWrite = 0xc0034204;       // 3 bytes {channel, register, data}

// "/dev/mcc/ctl": multichannel HDLC controller.
constexpr uint32_t MccAllocate = 0x40144d00;  // {type, 512, 0, 1, 4}
constexpr uint32_t MccTimeslot = 0x20004d02;  // no argument; result: channel

// "/dev/rtp" and "/dev/rtp_ext".
constexpr uint32_t RtpBeginSession = 0xc0245200;
constexpr uint32_t RtpAddChannel = 0xc00c5202;
constexpr uint32_t RtpAttachSession = 0xc0085209;
constexpr uint32_t RtpExtInit = 0xc0024500;
constexpr uint32_t RtpExtAttachSession = 0xc0084501;

}  // namespace Req

// Size of the argument record a request code announces.
constexpr std::size_t requestSize(uint32_t request) { return (request >> 16) & 0x1fff; }
// The letter and number of a request code ('M' = 0x4d for the multiplexer).
constexpr unsigned requestType(uint32_t request) { return (request >> 8) & 0xff; }

}  // namespace Board
