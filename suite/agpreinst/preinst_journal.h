// The pre-install library's journal: one line per action it took, in
// "agpreinst.log" of the agent's temp folder (or of the product folder when
// the temp folder is unknown), and the same line in the event log. The
// journal is what an operator (and the end-to-end tests) read to see what the
// library did. Thread-safe: lines are appended with one write each.
#pragma once

#include <string>

namespace agpreinst {

void Record(const std::string& line);

}  // namespace agpreinst
