// Reading duotint-cli's arguments. CLI11 finds the options and their values,
// in either spelling (--out DIR, --out=DIR); every value is taken as text
// and checked here, so that each usage error is a sentence of our own. The
// help is written out here too, laid out as a person reads it.
#include "cli/options.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <algorithm>

#ifndef DUOTINT_VERSION
#error "the build passes the project's version as DUOTINT_VERSION"
#endif

namespace {

const char kSynopsis[] =
    "usage: duotint-cli --tint R,G,B,DISP,DISTR,R,G,B,DISP [--out DIR] [--format bmp|png|jpeg]\n"
    "                   [--quality 1-100] [--chroma 420|444] [--png-level 1-9] [--strip] [--jobs N]\n"
    "                   [--force] [--quiet]\n"
    "                   PATH...\n"
    "       duotint-cli --help | --version\n";

const char kHelp[] =
    "\n"
    "Tints each picture named, and each picture directly inside each folder named (.bmp .png .jpg\n"
    ".jpeg .gif .tif .tiff, in any case), with one look, and writes it as <name>-.bmp, <name>-.png\n"
    "or <name>-.jpg beside it or in DIR.\n"
    "\n"
    "  --tint R,G,B,DISP,DISTR,R,G,B,DISP\n"
    "                   the look, named as the editor's panel names it from the top: red,\n"
    "                   green, blue (tint A), disp (how much of tint A), distr (tint B against\n"
    "                   tint A), red, green, blue (tint B), disp (how much of tint B); whole\n"
    "                   numbers in the 32-bit range, taken as the editor takes them (required)\n"
    "  --out DIR        write the outputs into DIR, made when only its last folder is missing\n"
    "  --format FORMAT  bmp (24-bit, as the editor writes; the default), png or jpeg\n"
    "  --quality Q      JPEG quality from 1 to 100 (92), as every JPEG tool reads it back: the\n"
    "                   standard's tables scaled by Q\n"
    "  --chroma 420|444 JPEG colour sampling: 420 keeps colour at half the size each way (smaller\n"
    "                   files), 444 at full size (fine colour edges); 420 below quality 90, 444\n"
    "                   from 90 up\n"
    "  --png-level L    PNG compression from 1 to 9 (6): 1 to 6 match runs only, fast and as small\n"
    "                   for photographs; 7 to 9 also search for repeats, smaller for drawings\n"
    "  --strip          write no EXIF, colour profile, XMP or text into a PNG or JPEG; without\n"
    "                   it they carry over, the orientation set to 1 and the thumbnail left out\n"
    "  --jobs N         pictures tinted side by side (one per core)\n"
    "  --force          replace outputs that exist; without it they are skipped\n"
    "  --quiet          print only errors\n"
    "  -h, --help       print this help\n"
    "  --version        print the version\n"
    "\n"
    "Each picture written prints one line on standard output:\n"
    "  holiday.jpg -> holiday-.jpg  4000 x 3000  182 ms\n"
    "Each picture refused or failed prints a sentence naming it on standard error, and the run\n"
    "goes on. Exit code: 0 when every picture was written, 64 for a usage error, otherwise the\n"
    "code of the first picture that failed.\n";

const char* const kValueOptions[] = {"--tint", "--out", "--format", "--quality", "--chroma", "--png-level", "--jobs"};

// The option values exactly as given.
struct Words {
    std::string tint, out, format, quality, chroma, pngLevel, jobs;
    bool force = false;
    bool quiet = false;
    bool strip = false;
    std::vector<std::string> paths;
};

void DescribeOptions(CLI::App& app, Words& words)
{
    // On by default on Windows, where "/x" would then be an option and not a path.
    app.allow_windows_style_options(false);
    // An unknown option is left over, to be named in our own sentence.
    app.allow_extras();
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", CliVersionText());
    // A later value replaces an earlier one, as with most console programs.
    app.add_option("--tint", words.tint)->take_last();
    app.add_option("--out", words.out)->take_last();
    app.add_option("--format", words.format)->take_last();
    app.add_option("--quality", words.quality)->take_last();
    app.add_option("--chroma", words.chroma)->take_last();
    app.add_option("--png-level", words.pngLevel)->take_last();
    app.add_option("--jobs", words.jobs)->take_last();
    app.add_flag("--force", words.force);
    app.add_flag("--quiet", words.quiet);
    app.add_flag("--strip", words.strip);
    app.add_option("PATH", words.paths);
}

// A number in [low, high] for an option, or a sentence saying what it takes.
bool TakeNumber(const std::string& text, int low, int high, int& number, std::string& sentence,
                const std::string& what)
{
    int32_t value = 0;
    std::string why;
    if (ParseWholeNumber(text, value, why) && value >= low && value <= high) {
        number = value;
        return true;
    }
    sentence = what + ", not '" + text + "'.";
    return false;
}

CliCommand UsageError(std::string sentence)
{
    CliCommand command;
    command.request = CliRequest::usageError;
    command.sentence = std::move(sentence);
    return command;
}

}  // namespace

std::string CliVersionText() { return "duotint-cli " DUOTINT_VERSION; }

std::string CliUsageText() { return kSynopsis; }

std::string CliHelpText() { return std::string(kSynopsis) + kHelp; }

CliCommand ParseCliArguments(const std::vector<std::string>& arguments)
{
    CLI::App app;
    Words words;
    DescribeOptions(app, words);
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // as CLI11 takes them
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        CliCommand command;
        command.request = CliRequest::help;
        return command;
    } catch (const CLI::CallForVersion&) {
        CliCommand command;
        command.request = CliRequest::version;
        return command;
    } catch (const CLI::ParseError& e) {
        // A value option that ends the command line has no value.
        const std::string what = e.what();
        for (const char* name : kValueOptions) {
            if (what.rfind(std::string(name) + ":", 0) == 0)
                return UsageError(std::string(name) + " needs a value.");
        }
        return UsageError("The command line cannot be read: " + what + ".");
    }

    std::vector<std::string> unknown = app.remaining();
    unknown.erase(std::remove(unknown.begin(), unknown.end(), "--"), unknown.end());
    if (!unknown.empty())
        return UsageError("duotint-cli has no option " + unknown.front() + ".");

    CliCommand command;
    CliOptions& options = command.options;
    std::string why;
    if (app.count("--tint") == 0)
        return UsageError("--tint is missing: it takes the look as nine comma-separated numbers.");
    if (!ParseTintText(words.tint, options.look, why))
        return UsageError("The --tint numbers cannot be read: " + why + ".");
    if (app.count("--format") > 0 && !ParseOutputFormat(words.format, options.format))
        return UsageError("--format takes bmp, png or jpeg, not '" + words.format + "'.");
    std::string sentence;
    if (app.count("--quality") > 0 &&
        !TakeNumber(words.quality, 1, 100, options.quality, sentence, "--quality takes a whole number from 1 to 100"))
        return UsageError(sentence);
    if (app.count("--chroma") > 0 && !ParseChroma(words.chroma, options.chroma))
        return UsageError("--chroma takes 420 or 444, not '" + words.chroma + "'.");
    if (app.count("--png-level") > 0 && !TakeNumber(words.pngLevel, 1, 9, options.pngLevel, sentence,
                                                    "--png-level takes a whole number from 1 to 9"))
        return UsageError(sentence);
    if (app.count("--jobs") > 0 &&
        !TakeNumber(words.jobs, 1, INT32_MAX, options.jobs, sentence, "--jobs takes a whole number of 1 or more"))
        return UsageError(sentence);
    if (app.count("--out") > 0 && words.out.empty())
        return UsageError("--out takes a folder, not an empty name.");
    if (words.paths.empty())
        return UsageError("Name at least one picture or folder to tint.");

    options.outFolder = WideOf(words.out);
    options.force = words.force;
    options.quiet = words.quiet;
    options.strip = words.strip;
    for (const std::string& path : words.paths)
        options.paths.push_back(WideOf(path));
    command.request = CliRequest::run;
    return command;
}
