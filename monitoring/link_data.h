#pragma once
// Monitored state of one E1 framer and of one network interface, filled
// from the framer driver's text and the interface's carrier file.
#include <list>
#include <string>
#include <vector>

class FramerDataHolder {
 public:
  FramerDataHolder(int number, const std::string& path);

  // Parses the driver's text (up to the first zero byte); true when any
  // field changed.
  bool setFramerStatus(std::vector<unsigned char>& text);

  bool connected = false;
  std::string statusDsc = "absent";
  bool signalLoss = true;
  bool frameAlignLoss = true;
  int negSlipCount = 0;
  int posSlipCount = 0;
  int number;
  std::string procPath;
};

class NetIfDataHolder {
 public:
  NetIfDataHolder(int index, const std::string& name, const std::string& carrierPath);

  // Adds one carrier sample (first byte '1' is up) to the window of the
  // last five; true when the debounced state changed.
  bool setNetIfStatus(std::vector<unsigned char>& text);

  static constexpr unsigned kWindow = 5;

  int state = -1;
  int operStatus = 2;
  int adminStatus = 2;
  std::list<int> samples;
  int index;
  std::string name;
  std::string carrierPath;
};
