// traceconfig: the programmatic set-up of the trace facility, for tests and
// for programs that embed these services.  The utility itself never calls
// it: no option, environment variable or file turns tracing on.  Such a
// program has called startServices (messages/services.h) at its start, as
// every program does; without it the allocator's MEMORY lines and the mutex
// reports never reach the trace (trStart).
//
//   TraceState* ts = trCreateState();
//   ts->maxMB = 4; ts->wrapMode = 1;
//   trSetClasses("BTREEDB PREFIX");
//   trOpen("/var/tmp/view.trc", true);
//   ...
//   trDestroyState();
#pragma once

#include "trace/traceclasses.h"
#include "trace/tracestate.h"

// Creates the zeroed trace state (segment 1 current) and makes it the
// process's; returns the existing one when there is one, null when no
// memory can be had.
TraceState* trCreateState();
// Closes the output, turns the classes off and releases the state.
void trDestroyState();

// Turns classes on (or off) from a list of names separated by blanks: class
// names, group names (expanded through `groups`), "ALL" for every class, and
// "-NAME" to turn a class or a group's members off again.  Names are matched
// without regard to letter case, left to right.  Returns 0, or -1 when a
// name is unknown (the names before it have taken effect).
int trSetClasses(const char* list, const TraceGroupRow* groups = traceGroupTable);

// Sets or clears a test flag by name; -1 when the name is unknown.
int trSetTestFlag(const char* name, bool set, int32_t value = 0);
