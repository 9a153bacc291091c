// osargs on Linux: arguments and paths are already the bytes the system
// uses.
#include "platform/osargs.h"

std::vector<std::string> osArgumentsUtf8(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::string osNativePath(const std::string& utf8) { return utf8; }
