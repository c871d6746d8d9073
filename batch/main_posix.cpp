// stolvik2quarnix-batch: the conversion and the database creation from the
// command line, on the platform the program runs on.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "batch/batchcommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return s2q::RunBatch(args, s2q::HostPlatformFacts(), std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "stolvik2quarnix-batch: " << e.what() << '\n';
    return s2q::kExitFailed;
  }
}
