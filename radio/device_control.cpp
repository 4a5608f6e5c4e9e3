#include "radio/device_control.h"

#include <cstring>

BaseDeviceControl::BaseDeviceControl() : name_("Base") {}

void BaseDeviceControl::Process(const Mux::timeval&) {
  cur_freq_ = wanted_freq_;
  cur_sql_ = wanted_sql_;
  cur_emission_ = wanted_emission_;
}

void BaseDeviceControl::ResetValues() {
  wanted_freq_ = cur_freq_ = 0;
  wanted_sql_ = cur_sql_ = -1;
  wanted_emission_ = cur_emission_ = -1;
}

bool BaseDeviceControl::SetParam(DeviceControlParamIDType id, void* value, int size) {
  if (!value || size != 4) return false;
  int i;
  float f;
  std::memcpy(&i, value, 4);
  std::memcpy(&f, value, 4);
  switch (id) {
    case ParamFrequency: SetFreq(f); return true;
    case ParamTypeEmission: SetTypeEmission(i); return true;
    case ParamSquelsh: SetSQL(static_cast<SquelshType>(i)); return true;
    case ParamAddress: address_ = i; return true;
    case ParamResponseTimeout: response_timeout_ = i; return true;
    case ParamPollPeriod: poll_period_ = i; return true;
    default: return false;
  }
}

bool BaseDeviceControl::GetParam(DeviceControlParamIDType id, void* value, int size) {
  if (!value || size != 4) return false;
  int i = 0;
  float f = 0;
  bool is_float = true;
  switch (id) {
    case ParamFrequency: f = GetFreq(); break;
    case ParamTypeEmission: i = GetTypeEmission(); is_float = false; break;
    case ParamSquelsh: i = GetSQL(); is_float = false; break;
    case ParamFreqMin: f = freq_min_; break;
    case ParamFreqMax: f = freq_max_; break;
    case ParamFreqStep: f = freq_step_; break;
    default: return false;
  }
  if (is_float)
    std::memcpy(value, &f, 4);
  else
    std::memcpy(value, &i, 4);
  return true;
}

NoneDeviceControl::NoneDeviceControl() {
  name_ = "None";
  type_ = RadioTypeNone;
}

bool NoneDeviceControl::Open() {
  freq_min_ = 0;
  freq_max_ = 500;
  freq_step_ = 0.0001f;
  ResetValues();
  return true;
}

Zolta7DeviceControl::Zolta7DeviceControl() : ctl_() {
  name_ = "Zolta7";
  type_ = RadioTypeZolta7;
}

void Zolta7DeviceControl::ToStation() {
  ctl_.address = address_;
  ctl_.response_timeout = response_timeout_;
  ctl_.poll_period = poll_period_;
  ctl_.freq_min = freq_min_;
  ctl_.freq_max = freq_max_;
  ctl_.freq_step = freq_step_;
}

bool Zolta7DeviceControl::Open() {
  address_ = 1;
  response_timeout_ = 5000;
  poll_period_ = 30000;
  freq_min_ = 100;
  freq_max_ = 500;
  freq_step_ = static_cast<float>(1.0 / 120.0);
  ResetValues();
  ToStation();
  // A second Open starts afresh without leaking the first one's buffers.
  zolta7_radio_control_close(&ctl_);
  zolta7_radio_control_open(&ctl_);
  return true;
}

// An owner that forgot Close does not leak the channel's buffers.
Zolta7DeviceControl::~Zolta7DeviceControl() { zolta7_radio_control_close(&ctl_); }

bool Zolta7DeviceControl::Close() {
  zolta7_radio_control_close(&ctl_);
  return true;
}

int Zolta7DeviceControl::Read(void* buffer, int size) { return zolta7_radio_control_read(&ctl_, buffer, size); }

int Zolta7DeviceControl::Read(std::vector<unsigned char>& buffer) {
  // Nothing read (or a failure) leaves the vector's size as it was.
  const size_t size = buffer.size();
  buffer.resize(buffer.capacity());
  const int n = buffer.empty() ? 0 : zolta7_radio_control_read(&ctl_, buffer.data(), static_cast<int>(buffer.size()));
  buffer.resize(n >= 1 ? static_cast<size_t>(n) : size);
  return n;
}

int Zolta7DeviceControl::Write(void* data, int size) { return zolta7_radio_control_write(&ctl_, data, size); }

int Zolta7DeviceControl::Write(const std::vector<unsigned char>& data) {
  return data.empty() ? 0 : zolta7_radio_control_write(&ctl_, data.data(), static_cast<int>(data.size()));
}

void Zolta7DeviceControl::Process(const Mux::timeval& now) { zolta7_radio_control_process(&ctl_, now); }

int Zolta7DeviceControl::ShowFd(int fd) { return zolta7_radio_control_showfd(&ctl_, fd); }

int Zolta7DeviceControl::Show(void* buffer, int size) { return zolta7_radio_control_show(&ctl_, buffer, size); }

int Zolta7DeviceControl::Show(std::vector<unsigned char>& buffer) {
  if (buffer.empty()) return 0;
  return zolta7_radio_control_show(&ctl_, buffer.data(), static_cast<int>(buffer.size()));
}

bool Zolta7DeviceControl::isConnected() { return zolta7_radio_control_isconnected(&ctl_) != 0; }
bool Zolta7DeviceControl::hasProtocolErorr() { return zolta7_radio_control_protocol_error(&ctl_) != 0; }
bool Zolta7DeviceControl::hasHardwareErorr() { return zolta7_radio_control_hardware_error(&ctl_) != 0; }

void Zolta7DeviceControl::SetFreq(float mhz) {
  wanted_freq_ = mhz;
  zolta7_radio_control_set_freq(&ctl_, mhz);
}

float Zolta7DeviceControl::GetFreq() {
  cur_freq_ = zolta7_radio_control_get_freq(&ctl_);
  return cur_freq_;
}

void Zolta7DeviceControl::SetSQL(SquelshType sql) {
  wanted_sql_ = sql;
  zolta7_radio_control_set_sql(&ctl_, sql);
}

IDeviceControl::SquelshType Zolta7DeviceControl::GetSQL() {
  cur_sql_ = zolta7_radio_control_get_sql(&ctl_);
  return static_cast<SquelshType>(cur_sql_);
}

void Zolta7DeviceControl::SetTypeEmission(TypeEmissionType type) {
  wanted_emission_ = type;
  zolta7_radio_control_set_type_emission(&ctl_, type);
}

IDeviceControl::TypeEmissionType Zolta7DeviceControl::GetTypeEmission() {
  cur_emission_ = zolta7_radio_control_get_type_emission(&ctl_);
  return cur_emission_;
}

bool Zolta7DeviceControl::SetParam(DeviceControlParamIDType id, void* value, int size) {
  const bool ok = BaseDeviceControl::SetParam(id, value, size);
  ToStation();
  return ok;
}

bool Zolta7DeviceControl::GetParam(DeviceControlParamIDType id, void* value, int size) {
  address_ = ctl_.address;
  response_timeout_ = static_cast<int>(ctl_.response_timeout);
  poll_period_ = static_cast<int>(ctl_.poll_period);
  freq_min_ = ctl_.freq_min;
  freq_max_ = ctl_.freq_max;
  freq_step_ = ctl_.freq_step;
  return BaseDeviceControl::GetParam(id, value, size);
}

IDeviceControl* DeviceControlFactory::createDeviceControl(IDeviceControl::RadioTypeType type) {
  switch (type) {
    case IDeviceControl::RadioTypeNone: return new NoneDeviceControl();
    case IDeviceControl::RadioTypeZolta7: return new Zolta7DeviceControl();
    default: return nullptr;
  }
}
