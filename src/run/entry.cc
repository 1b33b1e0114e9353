// The process entry: everything else is in Main, which tests call directly.
#include "platform/process.h"
#include "run/main.h"

int main(int argc, char** argv) {
  // Here, not in Main: tests call Main in a process whose signals are its own.
  static plenvar::RunControl control;
  plenvar::platform::CatchInterrupts(&control.stop);
  return plenvar::Main(plenvar::platform::CommandLine(argc, argv), plenvar::platform::ShowNotice,
                       control);
}
