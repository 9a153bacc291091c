// The main of every test program: the services start as in the programs
// (startServices), then the tests run.  Tests that read the error log or
// the allocator's reports rely on that start.
#include <gtest/gtest.h>

#include "messages/services.h"

int main(int argc, char** argv) {
  startServices();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
