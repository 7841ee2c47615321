#ifndef K27_KIT_RECORDS_SUMMARY_H_
#define K27_KIT_RECORDS_SUMMARY_H_

// What `k27kit records` makes of one or more stations' record files: the
// runs by release and outcome, the devices whose last run did not succeed,
// the devices programmed more than once, the runs with no end; and the runs
// as CSV for a spreadsheet.

#include <string>
#include <vector>

#include "run_record.h"

struct RecordSource {
  std::string name;  // the file, as the report names it
  RecordFileReading reading;
};

std::string RecordsReport(const std::vector<RecordSource>& files);

// One row per run, in the files' order, after a header row; RFC 4180, with
// CRLF line ends and a UTF-8 byte-order mark (which spreadsheet programs
// need to read UTF-8). A text cell that a spreadsheet would take for a
// formula starts with an apostrophe.
std::string RecordsCsv(const std::vector<RecordSource>& files);

#endif  // K27_KIT_RECORDS_SUMMARY_H_
