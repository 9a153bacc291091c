// jbbview: the journal database viewer's entry point.
#include <cstdio>

#include "platform/os.h"

int main(int argc, char** argv) {
  osSetUserLocale();
  std::printf("Vestrel\nJournal Database Viewing Utility\nVersion %d, Release %d, Level %d.%d %s\nLast Update: %s\n\n", 6,
              1, 1, 0, "0514FB", "Jun 18 2009");
  return 0;
}
