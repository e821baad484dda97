// Placeholder for the runner, which the integrator's branch provides: this
// file is theirs and is replaced whole when the branches meet. Until then
// every picture fails with code 1, so that the front can be built and run.
#include "cli/run.h"

int RunPlannedPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, Reporter& reporter)
{
    int first = 0;
    for (const PlannedPicture& picture : plan) {
        if (picture.refusedCode != 0)
            continue;
        reporter.Failed(picture, 1, "duotint-cli cannot tint " + picture.inputName + ": this build has no runner.");
        if (first == 0)
            first = 1;
    }
    return first;
}
