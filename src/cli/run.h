// duotint-cli's work: every planned picture read, tinted and written.
#pragma once

#include <vector>

#include "cli/plan.h"
#include "cli/report.h"

// Reads, tints and writes every picture of the plan to tint (refused and
// skipped ones have been reported already and are left alone), with
// options.jobs workers (0: one per core), each output written atomically.
// Tells reporter of each picture done or failed, and of the progress.
// Returns 0 when every picture was written, otherwise the code of the
// failed picture that comes first in the plan.
int RunPlannedPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, Reporter& reporter);
