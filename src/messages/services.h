// services: the start of the run-time services in a program.
//
// The services are built in layers: the portability layer (with the debug
// allocator), the trace facility on it, the message layer on both.  A lower
// layer never calls a higher one by name.  Where it has to reach one, it
// goes through a hook that the higher layer sets: the allocator and the
// mutex wrappers trace and report through channels that the trace facility
// fills (trStart), and the error statements hand their error-log copies to
// trace's error sink (trSetErrorSink), which is the error log of this layer.
//
// startServices sets every such hook.  Each program calls it first thing in
// main, before anything allocates or reports, so that nothing depends on
// the order in which static objects are initialised.  A second call changes
// nothing.
#pragma once

void startServices();
