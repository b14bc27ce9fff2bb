#pragma once

// The tool's exit statuses. With several ports the run ends with the worst (highest) of them.
namespace Status {
constexpr int Done = 0;      // done, and verified where verifying applies
constexpr int Different = 1; // diff found differences
constexpr int BadInput = 2;  // bad arguments, file or value; nothing was sent
constexpr int NoPort = 3;    // the port could not be opened
constexpr int NoAnswer = 4;  // no answer, a short answer, or the line was lost
constexpr int Mismatch = 5;  // the read-back differs, or the factory-reset check failed
} // namespace Status
