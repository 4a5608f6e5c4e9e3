// Entry point of the daemon; the start-up sequence is filled in as the
// subsystems arrive.
#include <iostream>

int main() {
  std::cout << "tessarod: start-up not built yet" << std::endl;
  return 0;
}
