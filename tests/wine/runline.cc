// Starts the command line held in a file, byte for byte, as a Windows user's
// shortcut or script would, and returns the child's exit status. Wine re-quotes
// its own arguments, so a line with quotes and spaces needs this to reach the
// program unchanged.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: runline FILE\n");
    return 120;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) return 121;
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF && c != '\r' && c != '\n';)
    line += static_cast<char>(c);
  std::fclose(file);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "runline: CreateProcessA failed: %lu\n", GetLastError());
    return 122;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 123;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
