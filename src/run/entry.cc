// The process entry: everything else is in Main, which tests call directly.
#include "platform/platform.h"
#include "run/run.h"

int main(int argc, char** argv) {
  return plenvar::Main(plenvar::platform::CommandLine(argc, argv), plenvar::platform::ShowNotice);
}
