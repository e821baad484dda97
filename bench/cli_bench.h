// duotint-cli against copying the same files and against decoding alone.
#pragma once

// Prints its lines; 1 when duotint-cli could not be run.
int MeasureCli();
