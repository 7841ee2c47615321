#include "bench/bench.h"

// A small bench as it stands on a workshop table (every label says it is
// simulated, so that no listing of a rehearsal passes for a real bench): two K27 units ready for
// code programming (one of them on boot code too old for current releases),
// one still in production test, and a unit of another family on the same
// server. Erasing takes a few polls and programming a couple of seconds, so
// the console shows real times.
std::string_view DefaultBenchText() {
  return R"json({
  "comment": "k27sim built-in bench",
  "server_version": {"major": 1, "minor": 7},
  "devices": [
    {
      "locator": 1, "endpoint_first": 167772417, "endpoint_second": 5001, "group_id": 513,
      "family": "K27", "boot_branch": 1, "boot_version": 3, "state": 1200, "serial": 42,
      "identity_scope": 1, "identity_qualifier": 42, "code_version": [2, 1, 7], "label": "Simulated bench",
      "identities": [
        {"kind": 1, "number": 11, "level": 2, "name": "Line operator"},
        {"kind": 1, "number": 12, "level": 0, "name": "Production engineer"},
        {"kind": 2, "number": 3, "level": 1, "name": "Service technician"}
      ],
      "access_levels": {"0": "Code programming", "1": "Calibration", "2": "Read only"}
    },
    {
      "locator": 2, "endpoint_first": 167772418, "endpoint_second": 5001, "group_id": 514,
      "family": "K27", "boot_branch": 1, "boot_version": 1, "state": 1000, "serial": 57,
      "identity_scope": 1, "identity_qualifier": 57, "label": "Simulated line 2",
      "identities": [
        {"kind": 1, "number": 11, "level": 2, "name": "Line operator"},
        {"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}
      ],
      "access_levels": {"0": "Code programming", "2": "Read only"}
    },
    {
      "locator": 3, "endpoint_first": 167772419, "endpoint_second": 5001, "group_id": 515,
      "family": "K27", "boot_branch": 1, "boot_version": 2, "state": 950, "serial": 108,
      "identity_scope": 1, "identity_qualifier": 108, "code_version": [2, 0, 4], "label": "Simulated shelf",
      "identities": [
        {"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}
      ],
      "access_levels": {"0": "Code programming"}
    },
    {
      "locator": 4, "endpoint_first": 167772420, "endpoint_second": 5002, "group_id": 516,
      "family": "K31", "boot_branch": 3, "boot_version": 0, "state": 1200, "serial": 7,
      "identity_scope": 2, "identity_qualifier": 7, "code_version": [4, 2, 0], "label": "Simulated lab",
      "identities": [
        {"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}
      ],
      "access_levels": {"0": "Code programming"}
    },
    {
      "locator": 5, "endpoint_first": 167772421, "endpoint_second": 5001, "group_id": 517,
      "family": "K27", "boot_branch": 1, "boot_version": 0, "state": 1100, "serial": 1234,
      "identity_scope": 1, "identity_qualifier": 1234, "code_version": [1, 9, 2], "label": "Simulated rig B",
      "identities": [
        {"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}
      ],
      "access_levels": {"0": "Code programming"}
    }
  ],
  "status": {"AcquireGroup": 0, "EraseStart": 17, "ErasePoll": [17, 17, 17, 0], "Program": 0, "Reset": 0},
  "delay_ms": {"EraseStart": 150, "ErasePoll": 400, "Program": 1800, "Reset": 200}
}
)json";
}
