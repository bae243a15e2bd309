// Every message that begins or ends a job's run, for whoever words them all (the reports' own
// tests, the rebuild engine's tests): a chosen file's, the tool's and a rebuild's. The program
// itself includes the one it needs.
#pragma once

#include "job/RebuildReport.h"
#include "job/ReportWords.h"
#include "job/SourceReport.h"
#include "job/ToolReport.h"
