#pragma once

// The tool's exit statuses. With several ports the run ends with the worst (highest) of them.
namespace Status {
constexpr int Done = 0;      // done, and verified where verifying applies
constexpr int Different = 1; // diff found differences; site verify a broken journal
constexpr int BadInput = 2;  // bad arguments, file or value (nothing was sent); or an output
                             // file or standard output that could not be written
constexpr int NoPort = 3;    // the port could not be opened; for doctor, a check failed
constexpr int NoAnswer = 4;  // no answer, a short answer, or the line was lost
constexpr int Mismatch = 5;  // the read-back differs, or the factory-reset check failed
// Interrupted: this plus the signal's number, as the shell counts it (130 SIGINT, 143 SIGTERM).
constexpr int SignalBase = 128;
} // namespace Status
