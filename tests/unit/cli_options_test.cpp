// duotint-cli's command line: which argument lists run, and with what, and
// which are usage errors, with the sentence each one prints; and the same
// words before the editor's PATH.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/options.h"
#include "editor/command_line.h"
#include "options/words.h"
#include "test_support.h"

namespace {

const char* const kFormatWords[] = {"bmp", "png", "jpeg"};
const char* const kChromaWords[] = {"", " c420", " c444"};

// What a command asks for, in one line: "run <look> <format> q<quality>
// [c<chroma, unless automatic>] [level<PNG level, unless 6>] j<jobs> [force] [update] [quiet] [verbose] [recursive]
// [strip] [strip-gps] [out=DIR] [paths]",
// "help", "version", or "64 <sentence>".
std::string Outcome(const CliCommand& command)
{
    if (command.request == CliRequest::help || command.request == CliRequest::version)
        return command.request == CliRequest::help ? "help" : "version";
    if (command.request == CliRequest::usageError)
        return std::to_string(kExitUsage) + " " + command.sentence;
    const CliOptions& o = command.options;
    std::string line = "run " + TintText(o.look) + " " + kFormatWords[static_cast<int>(o.format)] + " q" +
                       std::to_string(o.quality) + kChromaWords[static_cast<int>(o.chroma)] + (o.pngLevel != 6 ? " level" + std::to_string(o.pngLevel) : "") +
                       " j" + std::to_string(o.jobs) + (o.force ? " force" : "") + (o.update ? " update" : "") +
                       (o.quiet ? " quiet" : "") + (o.verbose ? " verbose" : "") + (o.recursive ? " recursive" : "") + (o.strip ? " strip" : "") +
                       (o.stripGps ? " strip-gps" : "") + (o.outFolder.empty() ? "" : " out=" + Utf8Of(o.outFolder)) + " [";
    for (const std::wstring& path : o.paths)
        line += (&path == &o.paths[0] ? "" : "|") + Utf8Of(path);
    return line + "]";
}

std::vector<std::string> Split(const char* text)
{
    // Arguments are split at spaces; '' is an empty one.
    std::vector<std::string> arguments;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        arguments.push_back(word == "''" ? "" : word);
    return arguments;
}

#define NINE "1,2,3,4,5,6,7,8,9"
#define NOT_READ "64 The --tint numbers cannot be read: "

TEST(CliOptions, ArgumentListsGiveTheirOutcome)
{
    static const struct { const char* label; const char* arguments; const char* outcome; } kCases[] = {
        {"nine numbers and a path", "--tint " NINE " a.bmp", "run " NINE " bmp q92 j0 [a.bmp]"},
        {"32-bit ends, minus zero, leading zeros", "--tint -2147483648,2147483647,-0,007,0,0,0,0,-1 a",
         "run -2147483648,2147483647,0,7,0,0,0,0,-1 bmp q92 j0 [a]"},
        {"every option, = spellings, paths around them",
         "a --format=png --quality 1 --jobs 3 --force --quiet --out=o --tint=" NINE " b",
         "run " NINE " png q1 j3 force quiet out=o [a|b]"},
        {"a later value replaces an earlier", "--tint 0,0,0,0,0,0,0,0,0 --format bmp --tint " NINE
                                              " --format jpeg --quality 100 x",
         "run " NINE " jpeg q100 j0 [x]"},
        {"--strip", "--strip --tint " NINE " --format jpeg a", "run " NINE " jpeg q92 j0 strip [a]"},
        {"--strip before a path leaves the path", "--tint " NINE " --strip a.jpg", "run " NINE " bmp q92 j0 strip [a.jpg]"},
        {"--strip gps, -r, --update, jpg", "--tint " NINE " -r --update --strip gps --format jpg a",
         "run " NINE " jpeg q92 j0 update recursive strip-gps [a]"},
        {"--strip=gps, --recursive", "--tint " NINE " --strip=gps --recursive a", "run " NINE " bmp q92 j0 recursive strip-gps [a]"},
        {"--strip as a value, gps after --", "--tint " NINE " --out --strip gps --strip -- gps",
         "run " NINE " bmp q92 j0 strip out=--strip [gps|gps]"},
        {"--strip with an unknown word", "--tint " NINE " --strip=exif a", "64 --strip takes gps or no word, not 'exif'."},
        {"after -- an option's name is a path", "--tint " NINE " -- --force", "run " NINE " bmp q92 j0 [--force]"},
        {"a path from the root is no option", "--tint " NINE " /tmp/a.png", "run " NINE " bmp q92 j0 [/tmp/a.png]"},
        {"help, whatever else", "--tint x --help", "help"},
        {"help, short", "-h", "help"},
        {"version", "--version", "version"},
        {"unknown option", "--tint " NINE " --fast a", "64 duotint-cli has no option --fast."},
        {"unknown short option", "-x --tint " NINE " a", "64 duotint-cli has no option -x."},
        {"no --tint", "a.bmp", "64 --tint is missing: it takes the look as nine comma-separated numbers."},
        {"--tint without its value", "a --tint", "64 --tint needs a value."},
        {"8 numbers", "--tint 1,2,3,4,5,6,7,8 a", NOT_READ "it holds 8 numbers, not 9."},
        {"10 numbers", "--tint " NINE ",10 a", NOT_READ "it holds 10 numbers, not 9."},
        {"1 number", "--tint 5 a", NOT_READ "it holds 1 number, not 9."},
        {"an option taken as the value", "--tint --force a", NOT_READ "it holds 1 number, not 9."},
        {"an empty number", "--tint 1,,3,4,5,6,7,8,9 a", NOT_READ "number 2 is empty."},
        {"letters", "--tint 1,2,3,4,12x,6,7,8,9 a", NOT_READ "'12x' is not a whole number."},
        {"a plus sign", "--tint +1,2,3,4,5,6,7,8,9 a", NOT_READ "'+1' is not a whole number."},
        {"a fraction", "--tint 1,2,3,4,5,6,7,8,1.5 a", NOT_READ "'1.5' is not a whole number."},
        {"two minus signs", "--tint 1,2,3,--4,5,6,7,8,9 a", NOT_READ "'--4' is not a whole number."},
        {"a minus sign alone", "--tint 1,2,3,4,5,6,7,8,- a", NOT_READ "'-' is not a whole number."},
        {"2^31", "--tint 1,2,3,4,5,6,7,8,2147483648 a", NOT_READ "'2147483648' is outside the 32-bit range."},
        {"-2^31 - 1", "--tint -2147483649,2,3,4,5,6,7,8,9 a", NOT_READ "'-2147483649' is outside the 32-bit range."},
        {"23 digits", "--tint 1,99999999999999999999999,3,4,5,6,7,8,9 a",
         NOT_READ "'99999999999999999999999' is outside the 32-bit range."},
        {"format gif", "--tint " NINE " --format gif a", "64 --format takes bmp, png or jpeg, not 'gif'."},
        {"format in capitals", "--tint " NINE " --format PNG a", "64 --format takes bmp, png or jpeg, not 'PNG'."},
        {"quality 0", "--tint " NINE " --quality 0 a", "64 --quality takes a whole number from 1 to 100, not '0'."},
        {"quality 101", "--tint " NINE " --quality 101 a",
         "64 --quality takes a whole number from 1 to 100, not '101'."},
        {"quality in words", "--tint " NINE " --quality high a",
         "64 --quality takes a whole number from 1 to 100, not 'high'."},
        {"chroma 420, then 444", "--tint " NINE " --chroma 420 a --chroma=444", "run " NINE " bmp q92 c444 j0 [a]"},
        {"chroma 422", "--tint " NINE " --chroma 422 a", "64 --chroma takes 420 or 444, not '422'."},
        {"png level 1 and 9", "--tint " NINE " --png-level 1 a --png-level=9", "run " NINE " bmp q92 level9 j0 [a]"},
        {"png level 0", "--tint " NINE " --png-level 0 a", "64 --png-level takes a whole number from 1 to 9, not '0'."},
        {"png level 10", "--tint " NINE " --png-level 10 a",
         "64 --png-level takes a whole number from 1 to 9, not '10'."},
        {"png level without its value", "--tint " NINE " a --png-level", "64 --png-level needs a value."},
        {"jobs 0", "--tint " NINE " --jobs 0 a", "64 --jobs takes a whole number of 1 or more, not '0'."},
        {"--force with --update", "--tint " NINE " --update a --force",
         "64 --force and --update cannot be used together: --force replaces every output that exists, --update only "
         "those older than their picture."},
        {"--update --verbose", "--tint " NINE " --update --verbose a", "run " NINE " bmp q92 j0 update verbose [a]"},
        {"--quiet with --verbose", "--tint " NINE " --verbose a --quiet",
         "64 --quiet and --verbose cannot be used together: --quiet prints only errors and notes, --verbose names "
         "every output left as it is."},
        {"jobs past 32 bits", "--tint " NINE " --jobs 099999999999 a", "run " NINE " bmp q92 j2147483647 [a]"},
        {"jobs with ten digits", "--tint " NINE " --jobs 0002147483648 a", "run " NINE " bmp q92 j2147483647 [a]"},
        {"jobs with leading zeros", "--tint " NINE " --jobs 0000000000099 a", "run " NINE " bmp q92 j99 [a]"},
        {"--out empty", "--tint " NINE " --out '' a", "64 --out takes a folder, not an empty name."},
        {"--out without its value", "--tint " NINE " a --out", "64 --out needs a value."},
        {"no path", "--tint " NINE, "64 Name at least one picture or folder to tint."},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Outcome(ParseCliArguments(Split(c.arguments))), c.outcome) << c.label;
}

struct ProgramEnded {
    uint16_t code;
};
std::string box;

// The editor's outcome: "PATH at <index> <look or 'defaults'> <format>
// [q<quality>] [c<chroma>]", or "<exit code> <box>".
TEST(EditorOptions, ComeBeforeThePath)
{
    static const struct { const char* label; const char* arguments; const char* outcome; } kCases[] = {
        {"no options", "duotint cat.bmp --tint " NINE, "PATH at 1 defaults bmp"},
        {"both, then the PATH", "duotint --tint " NINE " --format png cat.bmp", "PATH at 5 " NINE " png"},
        {"= spellings, and no PATH", "duotint --format=jpeg --tint=" NINE, "PATH at 3 " NINE " jpeg"},
        {"nine numbers it cannot take", "duotint --tint 1,2 cat.bmp",
         "64 duotint cannot take --tint 1,2: it holds 2 numbers, not 9."},
        {"a format it cannot take", "duotint --format gif cat.bmp",
         "64 duotint cannot take --format gif: it takes bmp, png or jpeg."},
        {"no value", "duotint --tint", "64 duotint cannot take --tint: it needs a value after it."},
        {"a JPEG's quality and chroma", "duotint --quality 50 --chroma=444 --format jpeg cat.bmp",
         "PATH at 6 defaults jpeg q50 c444"},
        {"quality 0", "duotint --quality 0 cat.bmp",
         "64 duotint cannot take --quality 0: it takes a whole number from 1 to 100."},
        {"chroma 422", "duotint --chroma 422 cat.bmp", "64 duotint cannot take --chroma 422: it takes 420 or 444."},
        {"jpg", "duotint --format jpg cat.bmp", "PATH at 3 defaults jpeg"},
    };
    for (const auto& c : kCases) {
        ResetProgram();
        errorState.showBox = [](const char* text, const char*) { box = text; };
        errorState.exitHook = [](uint16_t code) { throw ProgramEnded{code}; };
        std::vector<std::wstring> wide;
        for (const std::string& argument : Split(c.arguments))
            wide.push_back(WideOf(argument));
        std::vector<wchar_t*> arguments;
        for (std::wstring& argument : wide)
            arguments.push_back(&argument[0]);
        std::string outcome;
        try {
            const int at = TakeCommandLineOptions(arguments.data(), static_cast<int>(arguments.size()));
            const std::string look = state.startLook ? TintText(*state.startLook) : "defaults";
            outcome = "PATH at " + std::to_string(at) + " " + look + " " +
                      kFormatWords[static_cast<int>(state.exportFormat)] +
                      (state.exportQuality != 0 ? " q" + std::to_string(state.exportQuality) : "") +
                      kChromaWords[static_cast<int>(state.exportChroma)];
        } catch (const ProgramEnded& end) {
            outcome = std::to_string(end.code) + " " + box;
        }
        EXPECT_EQ(outcome, c.outcome) << c.label;
    }
    memset(&state, 0, sizeof state);
}

}  // namespace
