// osargs: a program's command line as UTF-8, whatever the host.
//
// Keys given as arguments must reach a program whole.  On Windows the
// arguments a narrow main() receives are in the ANSI code page, which
// cannot hold every key, so the command line is read again in UTF-16 and
// converted; on Linux the arguments are taken as they are (UTF-8 there).
// Paths, however, are opened through the narrow file services, so a path
// taken from a UTF-8 argument goes back through osNativePath first.
#pragma once

#include <string>
#include <vector>

// The arguments, argv[0] included, in UTF-8.
std::vector<std::string> osArgumentsUtf8(int argc, char** argv);

// A path given in UTF-8, as the file services (osfile.h, osfs.h) and the C
// runtime take paths on this host: the ANSI code page on Windows (a
// character it lacks becomes '?', as in a narrow argv), unchanged on Linux.
std::string osNativePath(const std::string& utf8);
