// jbbview: the journal database viewer's entry point.
#include <cstdio>

#include "platform/os.h"
#include "viewer/driver.h"

int main(int argc, char** argv) {
  osSetUserLocale();
  return runViewer(argc, argv, stdin);
}
