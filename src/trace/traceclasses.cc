// The class, group and test-flag tables; see traceclasses.h.
#include "trace/traceclasses.h"

TraceClassRow traceClassTable[kTraceClassRows + 1] = {
    {"ERROR", &trClass.ERROR, 0},
    {"PREFIX", &trClass.PREFIX, 0},
    {"TIMESTAMP", &trClass.TIMESTAMP, 0},
    {"PID", &trClass.PID, 0},
    {"TID", &trClass.TID, 0},
    {"CLIENTTYPE", &trClass.CLIENTTYPE, 0},
    {"BTREEDB", &trClass.BTREEDB, 0},
    {"MEMORY", &trClass.MEMORY, 0},
    {"NLS", &trClass.NLS, 0},
    {"GENERAL", &trClass.GENERAL, 0},
    {"EXTRC", &trClass.EXTRC, 0},
    {"EXTRC_DETAIL", &trClass.EXTRC_DETAIL, 0},
};

// No group is defined yet; the rows wait for them.
TraceGroupRow traceGroupTable[kTraceGroupRows + 1] = {};

TestFlagRow testFlagTable[kTestFlagRows + 1] = {
    {"DISABLEDIAGLOGMSGS", &trTestFlag.DISABLEDIAGLOGMSGS},
    {"OEMNLSREPOS", &trTestFlag.OEMNLSREPOS},
    {"ANSINLSREPOS", &trTestFlag.ANSINLSREPOS},
    {"AUDITLOGRC", &trTestFlag.AUDITLOGRC},
};
