// jbbview: the journal database viewer's entry point.
#include <cstdio>

#include "messages/services.h"
#include "platform/os.h"
#include "viewer/driver.h"

int main(int argc, char** argv) {
  startServices();
  osSetUserLocale();
  // A listing of a large journal into a file or a pipe goes out in large
  // blocks; a terminal keeps the runtime's own buffering.  Every place the
  // viewer flushes still flushes.
  if (!osIsTerminal(stdout)) std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
  return runViewer(argc, argv, stdin);
}
