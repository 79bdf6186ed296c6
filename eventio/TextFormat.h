// The text form of events, one keyword line per item:
//   run N / end N / type T (each optionally followed by "packet") / event /
//   event nopacket / unit R / hit R C ROW COL / word R C VALUE, '#' comments
//   and blank lines.
#ifndef KIVO_EVENTIO_TEXT_FORMAT_H
#define KIVO_EVENTIO_TEXT_FORMAT_H

#include <iosfwd>
#include <string>
#include <vector>

#include "EventRecord.h"

namespace kivo::eventio {

// Parses the whole text; appends one record per event, numbering sequences from 0.
// On error returns false and sets error to "line N: <what>".
bool parse_text(std::istream& in, std::vector<EventRecord>& out, std::string& error);

// Writes the canonical text form: parsing it gives back the same records
// (sequence numbers aside) whenever they are expressible in text.
void write_text(std::ostream& out, const std::vector<EventRecord>& records);

// The canonical text of one record; `current_run` is the run of the last
// begin-run event written before it and is updated by begin-run records.
void write_text_record(std::ostream& out, const EventRecord& record, int& current_run);

// What the text form of `record` would lose, empty when it is exact: a run number
// other than the current run (on an event that is no begin-run or end-run
// event), or a channel stored without words.
std::string text_form_loss(const EventRecord& record, int current_run);

}  // namespace kivo::eventio

#endif
