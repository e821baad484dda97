// duotint-cli's sequence: arguments, plan, refusals, run.
#include "cli/cli.h"

#include <cstdio>

#include "cli/options.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "cli/run.h"

namespace {

std::vector<std::string> Arguments(int count, wchar_t* const* wide)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Utf8Of(wide[i]));
    return arguments;
}

}  // namespace

int RunCli(int count, wchar_t* const* arguments)
{
    const CliCommand command = ParseCliArguments(Arguments(count, arguments));
    Reporter reporter(command.options.quiet);
    switch (command.request) {
    case CliRequest::help:
        fputs(CliHelpText().c_str(), stdout);
        return 0;
    case CliRequest::version:
        puts(CliVersionText().c_str());
        return 0;
    case CliRequest::usageError: {
        std::string usage = CliUsageText();
        usage.pop_back();  // Error ends the line
        reporter.Error(command.sentence + "\n" + usage);
        return kExitUsage;
    }
    case CliRequest::run:
        break;
    }

    std::vector<PlannedPicture> plan;
    uint16_t code = 0;
    std::string sentence;
    if (!PlanPictures(command.options, plan, code, sentence)) {
        reporter.Error(sentence);
        return code;
    }
    int firstRefusal = 0;
    uint32_t kept = 0, redone = 0, leftOut = 0;
    for (const PlannedPicture& picture : plan) {
        if (!picture.note.empty())
            reporter.Note(picture.note);
        kept += picture.kept ? 1 : 0;
        redone += picture.redo.empty() ? 0 : 1;
        leftOut += picture.leftOut ? 1 : 0;
        if (!picture.redo.empty() && command.options.verbose)
            reporter.Skipped(picture.redo);
        // Outputs left alone are counted in the summary; named one by one
        // only when asked, since a rerun of a library would name them all.
        if (!picture.skipped.empty() && (!picture.kept || command.options.verbose))
            reporter.Skipped(picture.skipped);
        if (picture.refusedCode == 0)
            continue;
        reporter.Failed(picture, picture.refusedCode, picture.refusal);
        if (firstRefusal == 0)
            firstRefusal = picture.refusedCode;
    }
    const int result = RunPlannedPictures(command.options, plan, reporter);
    reporter.Finish();
    reporter.Summary(kept, redone, leftOut, command.options.update);
    return firstRefusal != 0 ? firstRefusal : result;
}
