#pragma once
// Device controls: the objects through which the gateway tunes and
// supervises a radio station attached over a byte stream. The owner feeds
// received bytes through Write, takes bytes to send through Read, steps the
// control with Process, and calls Close before destroying it.
#include <string>
#include <vector>

#include "radio/zolta7_radio_control.h"
#include "runtime/os/clock.h"

class IDeviceControl {
 public:
  enum RadioTypeType { RadioTypeNone = 0, RadioTypeZolta7 = 1 };
  enum SquelshType { SquelshNoConfig = -1, SquelshOff = 0, SquelshOn = 1 };
  typedef int TypeEmissionType;  // -1: unknown
  enum DeviceControlParamIDType {
    ParamFrequency = 1,
    ParamTypeEmission = 2,
    ParamSquelsh = 3,
    ParamFreqMin = 4,
    ParamFreqMax = 5,
    ParamFreqStep = 6,
    ParamAddress = 9,
    ParamResponseTimeout = 10,
    ParamPollPeriod = 11,
  };

  virtual ~IDeviceControl() = default;
  virtual bool Open() = 0;
  virtual bool Close() = 0;
  virtual int Read(void* buffer, int size) = 0;
  virtual int Read(std::vector<unsigned char>& buffer) = 0;
  virtual int Write(void* data, int size) = 0;
  virtual int Write(const std::vector<unsigned char>& data) = 0;
  virtual void Process(const Mux::timeval& now) = 0;
  virtual int ShowFd(int fd) = 0;
  virtual int Show(void* buffer, int size) = 0;
  virtual int Show(std::vector<unsigned char>& buffer) = 0;
  virtual bool isConnected() = 0;
  virtual bool hasProtocolErorr() = 0;
  virtual bool hasHardwareErorr() = 0;
  virtual void SetFreq(float mhz) = 0;
  virtual float GetFreq() = 0;
  virtual void SetSQL(SquelshType sql) = 0;
  virtual SquelshType GetSQL() = 0;
  virtual void SetTypeEmission(TypeEmissionType type) = 0;
  virtual TypeEmissionType GetTypeEmission() = 0;
  virtual bool SetParam(DeviceControlParamIDType id, void* value, int size) = 0;
  virtual bool GetParam(DeviceControlParamIDType id, void* value, int size) = 0;
  virtual const std::string& GetName() const = 0;
  virtual RadioTypeType GetType() const = 0;
};

// Keeps the settings in memory; Process makes the wanted values current.
class BaseDeviceControl : public IDeviceControl {
 public:
  BaseDeviceControl();
  bool Open() override { return true; }
  bool Close() override { return true; }
  int Read(void*, int) override { return 0; }
  int Read(std::vector<unsigned char>&) override { return 0; }
  int Write(void*, int size) override { return size; }
  int Write(const std::vector<unsigned char>& data) override { return static_cast<int>(data.size()); }
  void Process(const Mux::timeval& now) override;
  int ShowFd(int) override { return 0; }
  int Show(void*, int) override { return 0; }
  int Show(std::vector<unsigned char>&) override { return 0; }
  bool isConnected() override { return false; }
  bool hasProtocolErorr() override { return false; }
  bool hasHardwareErorr() override { return false; }
  void SetFreq(float mhz) override { wanted_freq_ = mhz; }
  float GetFreq() override { return cur_freq_; }
  void SetSQL(SquelshType sql) override { wanted_sql_ = sql; }
  SquelshType GetSQL() override { return static_cast<SquelshType>(cur_sql_); }
  void SetTypeEmission(TypeEmissionType type) override { wanted_emission_ = type; }
  TypeEmissionType GetTypeEmission() override { return cur_emission_; }
  bool SetParam(DeviceControlParamIDType id, void* value, int size) override;
  bool GetParam(DeviceControlParamIDType id, void* value, int size) override;
  const std::string& GetName() const override { return name_; }
  RadioTypeType GetType() const override { return type_; }

 protected:
  // Band and settings shared by the None and Zolta 7 devices on Open.
  void ResetValues();

  float freq_min_ = 0, freq_max_ = 0, freq_step_ = 0;
  int address_ = 0, response_timeout_ = 0, poll_period_ = 0;
  float wanted_freq_ = 0;
  int wanted_sql_ = -1, wanted_emission_ = -1;
  float cur_freq_ = 0;
  int cur_sql_ = -1, cur_emission_ = -1;
  std::string name_;
  RadioTypeType type_ = RadioTypeNone;
};

// No radio station: always connected, settings take effect on Process.
class NoneDeviceControl : public BaseDeviceControl {
 public:
  NoneDeviceControl();
  bool Open() override;
  bool isConnected() override { return true; }
};

// The Zolta 7 radio station over its register protocol.
class Zolta7DeviceControl : public BaseDeviceControl {
 public:
  Zolta7DeviceControl();
  ~Zolta7DeviceControl() override;
  bool Open() override;
  bool Close() override;
  int Read(void* buffer, int size) override;
  int Read(std::vector<unsigned char>& buffer) override;
  int Write(void* data, int size) override;
  int Write(const std::vector<unsigned char>& data) override;
  void Process(const Mux::timeval& now) override;
  int ShowFd(int fd) override;
  int Show(void* buffer, int size) override;
  int Show(std::vector<unsigned char>& buffer) override;
  bool isConnected() override;
  bool hasProtocolErorr() override;
  bool hasHardwareErorr() override;
  void SetFreq(float mhz) override;
  float GetFreq() override;
  void SetSQL(SquelshType sql) override;
  SquelshType GetSQL() override;
  void SetTypeEmission(TypeEmissionType type) override;
  TypeEmissionType GetTypeEmission() override;
  bool SetParam(DeviceControlParamIDType id, void* value, int size) override;
  bool GetParam(DeviceControlParamIDType id, void* value, int size) override;

  const s_zolta7_radio_control& station() const { return ctl_; }

 private:
  void ToStation();
  s_zolta7_radio_control ctl_;
};

class DeviceControlFactory {
 public:
  // A new device control for the radio type (the caller owns it), or null.
  static IDeviceControl* createDeviceControl(IDeviceControl::RadioTypeType type);
};
