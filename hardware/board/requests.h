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

namespace Board {
namespace Req {

// "/dev/dtmf": DTMF detectors, tone generators, echo cancellers and DTMF
// rejection of the DSP timeslots. The by-value requests take the timeslot.
constexpr uint32_t DtmfConfigureDetector = 0x40144202;  // {ts, twist, ratio, silence, noise}
constexpr uint32_t DtmfEnableDetector = 0x40084203;     // {ts, id}
constexpr uint32_t DtmfDisableDetector = 0x40044204;    // by value: ts
constexpr uint32_t DtmfDial = 0x400c4205;               // {ts, f1:16, f2:16, a1:16, a2:16}
constexpr uint32_t ChannelLmsOn = 0x40044206;           // by value: ts
constexpr uint32_t ChannelLmsOff = 0x40044207;          // by value: ts
constexpr uint32_t DtmfRejectionEnable = 0x40044209;    // by value: ts
constexpr uint32_t DtmfRejectionDisable = 0x4004420a;   // by value: ts

// "/dev/dsp": voice-activity and SD detectors, muting.
constexpr uint32_t DsprocConfigure = 0x40146401;  // {ts, type, p1, p2, p3}
constexpr uint32_t DsprocEnable = 0x400c6402;     // {ts, id, mask}
constexpr uint32_t DsprocDisable = 0x400c6403;    // {ts, 0, mask}

}  // namespace Req
}  // namespace Board

namespace Board {
namespace Req {

// "/dev/maintenance": E1 framer status, clock source and transmit clocks.
constexpr uint32_t E1Status = 0xc0504d03;        // 80-byte status record, trunk in word 0
constexpr uint32_t E1SelectSource = 0xc0044d0a;  // by value: clock source
constexpr uint32_t E1SetTclk = 0xc0044d0b;       // by value: TCLK mask, bit n = trunk n slave

// "/dev/e1-cas": channel-associated signalling of the E1 trunks.
constexpr uint32_t CasOpenTrunk = 0x80044300;   // by value: trunk
constexpr uint32_t CasCloseTrunk = 0x80044301;  // by value: trunk
constexpr uint32_t CasSetTx = 0xc00c4302;       // {path, timeslot, rx:8 tx:8 pad:16}
constexpr uint32_t CasGet = 0xc00c4303;         // {path, timeslot, rx:8 tx:8 pad:16}
constexpr uint32_t CasSetup = 0xc0104304;       // {path, timeslot, rx:8 tx:8 pad:16, close}

}  // namespace Req
}  // namespace Board

namespace Board {
namespace Req {

// "/dev/rtp": the argument-less session requests, and "/dev/voice": the
// channel capacity of one codec (the argument is the codec selector).
constexpr uint32_t RtpInputOn = 0x20005204;
constexpr uint32_t RtpInputOff = 0x20005205;
constexpr uint32_t RtpHalt = 0x2000520a;
constexpr uint32_t RtpEndSession = 0x20005203;
constexpr uint32_t RtpFree = 0x2000520b;
constexpr uint32_t VoiceCapacity = 0x40045602;  // {selector}: 1 G.711, 2 G.723, 4 G.729, 8 G.711mcc

}  // namespace Req
}  // namespace Board
