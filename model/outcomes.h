#ifndef K27_MODEL_OUTCOMES_H_
#define K27_MODEL_OUTCOMES_H_

// Every message a run of k27prog can end with, its exit status and how far
// the run got, as the README's table of exit statuses gives them. Kept apart
// from the tool's sources, so that a message one character off in the tool
// does not match.

#include <string_view>
#include <vector>

namespace model {

// Where the run was when it ended: what may have reached the device server
// and the device by then.
enum class OutcomeStage {
  kStart,       // before the image: nothing started
  kImage,       // the image the program carries: the server is never created
  kServer,      // connection, version and profile
  kDevices,     // detection and the operator's pick
  kIdentity,    // identities and the device's interfaces
  kGate,        // the tool's own checks before the device is committed
  kDevice,      // the device committed: group, erase, program, reset
  kAnyCall,     // a failed call to the server, at any stage
};

struct Outcome {
  const char* message;
  int status;
  OutcomeStage stage;
  // Why no run can be made to end so, or nullptr when a scenario can.
  const char* unreachable;
};

// The line a run's transcript ends with, after its message.
inline constexpr char kPressSpaceLine[] = "Press space to exit";

// In the order a run can reach them.
const std::vector<Outcome>& Outcomes();

// The outcome with this message, or nullptr.
const Outcome* FindOutcome(std::string_view message);

}  // namespace model

#endif  // K27_MODEL_OUTCOMES_H_
