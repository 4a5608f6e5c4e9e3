#include "monitoring/link_data.h"

#include <algorithm>
#include <cstdlib>

FramerDataHolder::FramerDataHolder(int n, const std::string& path) : number(n), procPath(path) {}

namespace {

const std::string kState = "Current state           : ";
const std::string kSignal = "Loss of Signal          : ";
const std::string kFrame = "Loss of Frame Alignment : ";
const std::string kNegSlip = "Receive Slip Negative   : ";
const std::string kPosSlip = "Receive Slip Positive   : ";

// The rest of the line after the first occurrence of key, if any.
bool valueOf(const std::string& line, const std::string& key, std::string& value) {
  std::size_t p = line.find(key);
  if (p == std::string::npos) return false;
  value = line.substr(p + key.size());
  return true;
}

bool update(bool& field, bool v) {
  if (field == v) return false;
  field = v;
  return true;
}

bool update(int& field, int v) {
  if (field == v) return false;
  field = v;
  return true;
}

}  // namespace

bool FramerDataHolder::setFramerStatus(std::vector<unsigned char>& buffer) {
  auto end = std::find(buffer.begin(), buffer.end(), 0);
  std::string text(buffer.begin(), end);
  bool changed = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    std::string v;
    if (valueOf(line, kState, v) && v != statusDsc) {
      statusDsc = v;
      connected = v != "No Carrier";
      changed = true;
    }
    if (valueOf(line, kSignal, v)) changed |= update(signalLoss, v == "yes");
    if (valueOf(line, kFrame, v)) changed |= update(frameAlignLoss, v == "yes");
    if (valueOf(line, kNegSlip, v)) changed |= update(negSlipCount, std::atoi(v.c_str()));
    if (valueOf(line, kPosSlip, v)) changed |= update(posSlipCount, std::atoi(v.c_str()));
  }
  return changed;
}

NetIfDataHolder::NetIfDataHolder(int i, const std::string& n, const std::string& path)
    : index(i), name(n), carrierPath(path) {}

bool NetIfDataHolder::setNetIfStatus(std::vector<unsigned char>& text) {
  int sample = !text.empty() && text[0] == '1' ? 1 : 0;
  samples.push_back(sample);
  while (samples.size() > kWindow) samples.pop_front();
  int sum = 0;
  for (int s : samples) sum += s;
  int next = state;
  if (sum <= 1) next = 0;
  else if (sum >= 3) next = 1;
  bool changed = next != state;
  state = next;
  operStatus = adminStatus = state != 0 ? 1 : 2;
  return changed;
}
