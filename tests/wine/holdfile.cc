// Holds a file open as a live mail server does, until told to let go:
//   holdfile writing|exclusive FILE READY RELEASE
// "writing" opens FILE for writing and lets others read it (a server that
// keeps a mailbox open); "exclusive" lets nobody else open it (a server in
// the middle of a delivery). READY is made once FILE is held; the hold ends
// when RELEASE appears, or after two minutes.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 5 ||
      (std::strcmp(argv[1], "writing") != 0 && std::strcmp(argv[1], "exclusive") != 0)) {
    std::fprintf(stderr, "usage: holdfile writing|exclusive FILE READY RELEASE\n");
    return 120;
  }
  const bool exclusive = std::strcmp(argv[1], "exclusive") == 0;
  HANDLE file = CreateFileA(argv[2], exclusive ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE,
                            exclusive ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "holdfile: cannot open %s: %lu\n", argv[2], GetLastError());
    return 121;
  }
  HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 122;
  CloseHandle(ready);
  for (int i = 0; i < 2400 && GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(50);
  CloseHandle(file);
  return 0;
}
