// Runs the viewer's request loop in-process on a given standard input and
// returns what it printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "viewer/requests.h"

inline std::string runRequests(toolDB& db, const std::string& input) {
  FILE* in = std::tmpfile();
  EXPECT_NE(in, nullptr);
  if (in == nullptr) return {};
  std::fputs(input.c_str(), in);
  std::rewind(in);
  testing::internal::CaptureStdout();
  runRequestLoop(db, in);
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  std::fclose(in);
  return out;
}
