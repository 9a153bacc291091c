// The command line as UTF-8: what a program sees of plain arguments and
// paths does not change on any host.  Keys outside ASCII are tried end to
// end by jbbtool's command-line tests, on both hosts.
#include "platform/osargs.h"

#include <gtest/gtest.h>

TEST(OsArgs, PlainArgumentsAndPathsAreTakenAsGiven) {
  char a0[] = "prog", a1[] = "get", a2[] = "/tmp/x.jbbdb", a3[] = "--prefix=C:\\Users";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  // The host's own command line is this test's, not the one above: where
  // the counts differ the given argv is what comes back.
  std::vector<std::string> args = osArgumentsUtf8(4, argv);
  ASSERT_EQ(args.size(), 4u);
  EXPECT_EQ(args[1], "get");
  EXPECT_EQ(args[2], "/tmp/x.jbbdb");
  EXPECT_EQ(args[3], "--prefix=C:\\Users");
  EXPECT_EQ(osNativePath("dir/sub/file.jbbdb"), "dir/sub/file.jbbdb");
  EXPECT_EQ(osNativePath(""), "");
}
