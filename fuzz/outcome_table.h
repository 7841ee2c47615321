#ifndef K27_FUZZ_OUTCOME_TABLE_H_
#define K27_FUZZ_OUTCOME_TABLE_H_

// Every message a run of the tool can end with, and its exit status, kept
// apart from the code under test so that a message one character off, or a
// status that drifted, does not match.

// The message's exit status, or -1 when the tool has no such message.
int OutcomeStatus(const char* message);

#endif  // K27_FUZZ_OUTCOME_TABLE_H_
