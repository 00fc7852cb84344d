// Starting the kv70sim program from another program (tests, benchmarks): it is ready to
// serve once it has printed its "ready PATH" line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace trelvo::sim {

struct Launched {
    pid_t pid = -1;          // -1: it could not be started
    std::string first_line;  // "ready PATH" once it serves; empty when it said nothing in time
};

// Starts `program` with `args` (not counting the program itself) and waits at most
// `limit_ms` for its first line of output. Its standard error goes to `error_path`, or is
// dropped when that is empty. The caller ends the process.
Launched launch(const std::string& program, const std::vector<std::string>& args,
                const std::string& error_path = "", int limit_ms = 10'000);

}  // namespace trelvo::sim
