// The test-database builder: everything a test needs to make a database
// file and to look at one.
#pragma once

#include "builder/checker.h"
#include "builder/damage.h"
#include "builder/keys.h"
#include "builder/records.h"
#include "builder/tree.h"
#include "builder/writer.h"
