#include "slots/voice_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <iostream>
#include <utility>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "runtime/os/paths.h"

namespace {
const char kDevice[] = "/dev/mcc/ctl";
const char kPromptDir[] = "/usr/local/voice/";

int QueryTimeslot(const Fd& fd) { return Board::ioctl(fd.lowlevel_fd(), Board::Req::MccTimeslot, nullptr); }

ASync::Copy::EventsParams Events(int flush) {
  ASync::Copy::EventsParams p;
  p.read_events = POLLIN;
  p.write_events = POLLOUT;
  p.flush_events = flush;
  return p;
}
}  // namespace

namespace Voice {

std::string dhost2str(const TERM::HostAddress& host) {
  return static_cast<const std::string&>(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

bool IsValidHost(const TERM::HostAddress& host) {
  in_addr a;
  return ::inet_aton(host.get_iaddr().c_str(), &a) != 0;
}

bool IsSafePromptName(const std::string& name) {
  // A name may lead into the prompt folder's sub-folders, never out of it:
  // no ".." component (after a linked folder it climbs from the link's
  // target), and no NUL, which would cut the path short.
  if (name.find('\0') != std::string::npos) return false;
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace Voice

// ------------------------------------------------------------ players

// The channel is asked before the descriptor moves into the slot (the
// members are built in that order).
PlaySlotGeneric::PlaySlotGeneric(Fd dev) : channel(QueryTimeslot(dev)), device(std::move(dev)) {}

std::ostream& PlaySlotGeneric::PutHeader(std::ostream& os) const { return os << GetName() << "[" << channel << "]: "; }

bool PlaySlotGeneric::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

PlaySlotNetwork::PlaySlotNetwork(Fd dev, std::string h, int i)
    : PlaySlotGeneric(std::move(dev)), host(std::move(h)), id(i) {}

bool PlaySlotNetwork::IOnOutputStream() {
  if (mState == kIdle) {
    mState = kConnecting;
    connector.reset(new ASync::Connect);
    connector->Bind(&PlaySlotNetwork::OnConnect, this);
    connector->Start(host, Voice::kConnectTimeoutMs);
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd sock) {
  if (status != ASync::Connect::Status::connected) {
    PutHeader(std::clog) << "connection to " << host << " fail." << std::endl;
    Release();
    return;
  }
  PutHeader(std::clog) << "connected to " << host << "." << std::endl;
  LGCP::IoctlResponse r;
  r.select_startPlaying();
  OnIoctlResponse(r);
  mState = kPlaying;
  connector.reset();
  copier.reset(new ASync::Copy);
  copier->set_events(Events(POLLWRNORM));
  copier->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  uint8_t idBytes[4];
  Board::putBE32(idBytes, static_cast<uint32_t>(id));
  // The socket is fresh and empty: four bytes always fit.
  if (::write(sock.lowlevel_fd(), idBytes, sizeof idBytes) != static_cast<ssize_t>(sizeof idBytes)) {
    PutHeader(std::cerr) << "play failed" << std::endl;
    Release();
    return;
  }
  copier->Start(sock, device);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::finished)
    PutHeader(std::clog) << "connection to " << host << " closed." << std::endl;
  else
    PutHeader(std::cerr) << "play failed" << std::endl;
  Release();
}

void PlaySlotNetwork::Release() {
  mState = kFinished;
  OnChangeOutputStream(false);
  copier.reset();
  connector.reset();
  OnAbort(0);
}

PlaySlotFile::PlaySlotFile(Fd dev, std::vector<std::string> n, int r)
    : PlaySlotGeneric(std::move(dev)), repeat(r), names(std::move(n)) {
  abortDpc.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::next_phrase() {
  for (; current < names.size(); ++current) {
    const std::string& name = names[current];
    if (!Voice::IsSafePromptName(name)) {
      PutHeader(std::cerr) << "prompt name refused: " << name << std::endl;
      continue;
    }
    if (!file.open(RootPath::resolveOutside(std::string(kPromptDir) + name).c_str(), O_RDONLY | O_NONBLOCK)) continue;
    // Only plain files: a folder fails its first read and a pipe could
    // hold the channel silent for ever.
    struct stat st;
    if (::fstat(file.lowlevel_fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
      file.close();
      continue;
    }
    ::lseek(file.lowlevel_fd(), 0, SEEK_SET);
    copier.reset(new ASync::Copy);
    copier->set_bufsize(Voice::kFileBlock);
    copier->set_events(Events(POLLWRNORM));
    copier->Bind(&PlaySlotFile::OnPlayComplete, this);
    ++current;
    copier->Start(file, device);
    return true;
  }
  return false;
}

bool PlaySlotFile::restart() {
  current = 0;
  return next_phrase();
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    if (!restart()) {
      abortDpc.Activate();
      return false;
    }
    started = true;
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status != ASync::Copy::Status::finished) {
    Release();
    return;
  }
  if (next_phrase()) return;
  // A negative count never reaches 0; the lowest one stays where it is.
  if (repeat != 0 && repeat != INT_MIN && --repeat == 0) {
    Release();
    return;
  }
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
  OnChangeOutputStream(false);
  copier.reset();
  OnAbort(0);
}

void PlaySlotFile::delayed_abort() {
  abortDpc.Deactivate();
  OnAbort(0);
}

// ------------------------------------------------------------ recorder

RecordSlot::RecordSlot(Fd dev, std::string h, int ch) : channel(ch), device(std::move(dev)), host(std::move(h)) {}

std::ostream& RecordSlot::PutHeader(std::ostream& os) const { return os << GetName() << "[" << channel << "]: "; }

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  connector.reset(new ASync::Connect);
  connector->Bind(&RecordSlot::OnConnect, this);
  connector->Start(host, Voice::kConnectTimeoutMs);
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd sock) {
  if (status != ASync::Connect::Status::connected) {
    PutHeader(std::clog) << "connection to " << host << " fail." << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  PutHeader(std::clog) << "connected to " << host << "." << std::endl;
  connector.reset();
  copier.reset(new ASync::Copy);
  copier->set_events(Events(0));
  copier->Bind(&RecordSlot::OnRecordComplete, this);
  copier->Start(device, sock);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::finished) {
    PutHeader(std::clog) << "connection to " << host << " closed." << std::endl;
    StopRecording(LGCP::StopRecordingCause::userRequest);
  } else {
    PutHeader(std::cerr) << "record aborted" << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause cause) {
  copier.reset();
  connector.reset();
  OnIoctlResponse(LGCP::IoctlResponse(LGCP::IoctlResponse::stopRecording::Id(), cause));
}

// ------------------------------------------------------------ factory

VoiceFactory& VoiceFactory::instance() {
  static VoiceFactory factory;
  return factory;
}

std::ostream& VoiceFactory::PutHeader(std::ostream& os) const { return os << "voice/mcc[0]: "; }

Slot* VoiceFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.voice_isSelected()) return nullptr;
  const LGCP::VoiceParams& v = params.get_voice();
  if (v.record_isSelected()) {
    if (!CheckHost(v.get_record())) return nullptr;
    return CreateRecord(Voice::dhost2str(v.get_record()));
  }
  if (v.player_isSelected()) return CreatePlay(v.get_player());
  return nullptr;
}

bool VoiceFactory::CheckHost(const TERM::HostAddress& host) {
  if (Voice::IsValidHost(host)) return true;
  PutHeader(std::cerr) << "invalid host address: " << static_cast<const std::string&>(host.get_iaddr())
            << std::endl;
  return false;
}

Fd VoiceFactory::Allocate(bool player, int& timeslot) {
  Fd dev(Board::open(kDevice, (player ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC));
  if (!dev) {
    Errno e;
    PutHeader(std::cerr) << "fail to open /dev/mcc/ctl device for " << (player ? "writing" : "reading")
              << ": " << e << std::endl;
    return Fd();
  }
  Board::WordRecord block = player ? Board::WordRecord{Voice::kChannelMode, 1024, 0, 0, 5}
                                   : Board::WordRecord{Voice::kChannelMode, 1024, 0, 5, 0};
  if (Board::ioctl(dev.lowlevel_fd(), Board::Req::MccAllocate, block.data()) < 0) {
    Errno e;
    PutHeader(std::cerr) << "MCC_ALLOCATE fail: " << e << std::endl;
    return Fd();
  }
  timeslot = QueryTimeslot(dev);
  if (timeslot < 0) {
    PutHeader(std::cerr) << "MCC_TIMESLOT request failed." << std::endl;
    return Fd();
  }
  return dev;
}

Slot* VoiceFactory::CreatePlay(const LGCP::PlayerParams& params) {
  if (!params.network_isSelected() && !params.file_isSelected()) return nullptr;
  if (params.network_isSelected() && !CheckHost(params.get_network().get_host())) return nullptr;
  int timeslot = -1;
  Fd dev = Allocate(true, timeslot);
  if (!dev) return nullptr;
  PlaySlotGeneric* slot;
  if (params.network_isSelected()) {
    const LGCP::PlayerParams_network& n = params.get_network();
    slot = new PlaySlotNetwork(std::move(dev), Voice::dhost2str(n.get_host()), static_cast<int>(n.get_id().getValue()));
  } else {
    const LGCP::PlayerParams_file& f = params.get_file();
    std::vector<std::string> names;
    for (const auto& name : f.get_name()) names.push_back(name);
    slot = new PlaySlotFile(std::move(dev), std::move(names), static_cast<int>(f.get_repeat().getValue()));
  }
  players.push_back(slot);
  return slot;
}

Slot* VoiceFactory::CreateRecord(const std::string& host) {
  int timeslot = -1;
  Fd dev = Allocate(false, timeslot);
  if (!dev) return nullptr;
  RecordSlot* slot = new RecordSlot(std::move(dev), host, timeslot);
  recorders.push_back(slot);
  return slot;
}
