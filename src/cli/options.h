// duotint-cli's command line: what it asks for, read from its arguments.
#pragma once

#include <string>
#include <vector>

#include "cli/plan.h"
#include "options/words.h"  // kExitUsage, the editor's too
#include "support/utf8.h"  // the options' paths come back in UTF-16

enum class CliRequest { run, help, version, usageError };

struct CliCommand {
    CliRequest request = CliRequest::usageError;
    CliOptions options;    // request run
    std::string sentence;  // usageError: what is wrong, one sentence
};

// The arguments after the program's name, in UTF-8; the paths in the
// options come back in UTF-16.
CliCommand ParseCliArguments(const std::vector<std::string>& arguments);

// The synopsis a usage error prints after its sentence, and the whole help.
std::string CliUsageText();
std::string CliHelpText();
// "duotint-cli 0.2.0", and on a second line the libraries its decoding
// process reads with: "reads JPEG with libjpeg-turbo 2.1.5".
std::string CliVersionText();

