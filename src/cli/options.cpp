// Reading duotint-cli's arguments. CLI11 finds the options and their values,
// in either spelling (--out DIR, --out=DIR); every value is taken as text
// and checked here, so that each usage error is a sentence of our own. The
// help is written out here too, laid out as a person reads it.
#include "cli/options.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <algorithm>

namespace {

const char kSynopsis[] =
    "usage: duotint-cli --tint R,G,B,DISP,DISTR,R,G,B,DISP [--out DIR] [--format bmp|png|jpeg|jpg]\n"
    "                   [--quality 1-100] [--chroma 420|444] [--png-level 1-9] [--strip [gps]]\n"
    "                   [--jobs N] [-r] [--force | --update] [--quiet | --verbose]\n"
    "                   PATH...\n"
    "       duotint-cli --help | --version\n";

const char kHelp[] =
    "\n"
    "Tints each picture named, and each picture directly inside each folder named (every file of a\n"
    "kind read here: .bmp .png .jpg .jpeg .gif .tif .tiff .webp and any the platform lists, in any case),\n"
    "with one look, and writes it as <name>-.bmp, <name>-.png or <name>-.jpg beside it or in DIR.\n"
    "\n"
    "  --tint R,G,B,DISP,DISTR,R,G,B,DISP\n"
    "                   the look, named as the editor's panel names it from the top: red,\n"
    "                   green, blue (tint A), disp (how much of tint A), distr (tint B against\n"
    "                   tint A), red, green, blue (tint B), disp (how much of tint B); whole\n"
    "                   numbers in the 32-bit range, taken as the editor takes them (required)\n"
    "  --out DIR        write the outputs into DIR (made if only its last folder is missing); with\n"
    "                   -r, each subfolder a picture came from is made again inside DIR\n"
    "  --format FORMAT  bmp (24-bit, as the editor writes; the default), png or jpeg (or jpg)\n"
    "  --quality Q      JPEG quality from 1 to 100 (92), as every JPEG tool reads it back: the\n"
    "                   standard's tables scaled by Q\n"
    "  --chroma 420|444 JPEG colour sampling: 420 keeps colour at half the size each way (smaller\n"
    "                   files), 444 at full size (fine colour edges); 420 below quality 90, 444\n"
    "                   from 90 up\n"
    "  --png-level L    PNG compression from 1 to 9 (6): 1 to 6 match runs only, fast and as small\n"
    "                   for photographs; 7 to 9 also search for repeats, smaller for drawings\n"
    "  --strip          carry none of the picture's EXIF, colour profile, XMP or text into a PNG\n"
    "                   or JPEG; without it they carry over, GPS included, the orientation set\n"
    "                   to 1 and the thumbnail left out\n"
    "  --strip gps      (or --strip=gps) leave out only where the picture was taken: the EXIF\n"
    "                   GPS directory and the XMP GPS properties; the rest carries over\n"
    "  -r, --recursive  take the pictures in the folders below each folder named too, each folder\n"
    "                   once however many links lead to it, and never DIR\n"
    "  --jobs N         pictures tinted side by side (one per core; at most twice the cores)\n"
    "  --force          replace outputs that exist; without it they are left as they are\n"
    "  --update         replace outputs older than their picture or made with another look (a\n"
    "                   PNG or JPEG records its look and options; a BMP cannot, and goes by its\n"
    "                   time alone); leave the others\n"
    "  --quiet          print only errors and notes\n"
    "  --verbose        also name each output left as it is or written again, and say why\n"
    "  -h, --help       print this help\n"
    "  --version        print the version\n"
    "\n"
    "Each picture written prints one line on standard output, and so does each one skipped:\n"
    "  holiday.jpg -> holiday-.jpg  4000 x 3000  182 ms\n"
    "  skipped: party.jxl: no decoder on this machine for .jxl\n"
    "Outputs that exist, left as they are or written again by --update, and earlier outputs left\n"
    "out are counted in one line at the end (here wrapped):\n"
    "  47 pictures: 2 written, 45 left as they exist (--update replaces those older than their\n"
    "  picture or made with another look, --force all of them)\n"
    "The last is for a file in a folder named of a kind no decoder here reads, among .jxl .psd\n"
    "and the camera raw kinds .raw .cr2 .cr3 .nef .arw .dng .orf .raf .rw2;\n"
    "other files are passed over. A note on standard error names what a folder's walk left out:\n"
    "  photos: 2 subfolders not entered; -r enters them\n"
    "Each picture refused or failed prints a sentence naming it on standard error, and the run\n"
    "goes on. Paths are printed with the separator typed.\n"
    "\n"
    "Exit code:\n"
    "  0        every picture was written or skipped\n"
    "  64       a usage error; nothing was read or written\n"
    "  other    the code of the first picture refused or failed, refusals first: 2 no such file\n"
    "           or no pictures in a folder, 5 not a file that may be read, 13 a picture that\n"
    "           cannot be tinted, 183 two pictures for one output, 206 a name too long\n";

const char* const kValueOptions[] = {"--tint", "--out", "--format", "--quality", "--chroma", "--png-level", "--jobs"};

// The option values exactly as given.
struct Words {
    std::string tint, out, format, quality, chroma, pngLevel, jobs, strip;
    bool force = false;
    bool update = false;
    bool quiet = false;
    bool verbose = false;
    bool recursive = false;
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
    app.add_flag("--update", words.update);
    app.add_flag("--quiet", words.quiet);
    app.add_flag("--verbose", words.verbose);
    app.add_flag("-r,--recursive", words.recursive);
    // A flag that takes a word only as --strip=WORD, so that a PATH after it
    // stays a PATH; ArgumentsForParser joins "--strip gps" into that form.
    app.add_flag("--strip{all}", words.strip);
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

// The arguments in the order CLI11 takes them (last first), with "--strip
// gps" as "--strip=gps": the one word --strip takes after a space. A value
// option's value and everything after "--" stay as they are.
std::vector<std::string> ArgumentsForParser(const std::vector<std::string>& arguments)
{
    std::vector<std::string> joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        joined.push_back(word);
        if (word == "--") {
            joined.insert(joined.end(), arguments.begin() + static_cast<ptrdiff_t>(i) + 1, arguments.end());
            break;
        }
        if (i + 1 == arguments.size())
            break;
        if (std::any_of(std::begin(kValueOptions), std::end(kValueOptions),
                        [&](const char* name) { return word == name; })) {
            joined.push_back(arguments[++i]);
        } else if (word == "--strip" && arguments[i + 1] == "gps") {
            joined.back() = "--strip=gps";
            ++i;
        }
    }
    return std::vector<std::string>(joined.rbegin(), joined.rend());
}

CliCommand UsageError(std::string sentence)
{
    CliCommand command;
    command.request = CliRequest::usageError;
    command.sentence = std::move(sentence);
    return command;
}

}  // namespace

std::string CliVersionText() { return VersionText("duotint-cli"); }

std::string CliUsageText() { return kSynopsis; }

std::string CliHelpText() { return std::string(kSynopsis) + kHelp; }

CliCommand ParseCliArguments(const std::vector<std::string>& arguments)
{
    CLI::App app;
    Words words;
    DescribeOptions(app, words);
    try {
        app.parse(ArgumentsForParser(arguments));
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
    ExportWords exportWords{options.format, options.quality, options.chroma};
    const char* takes = nullptr;
    auto cannotTake = [&](const char* name, const std::string& value) {
        return app.count(name) > 0 && !TakeExportWord(name, value, exportWords, takes);
    };
    if (cannotTake("--format", words.format))
        return UsageError("--format takes " + std::string(takes) + ", not '" + words.format + "'.");
    if (app.count("--strip") > 0 && words.strip != "all" && words.strip != "gps")
        return UsageError("--strip takes gps or no word, not '" + words.strip + "'.");
    const std::pair<const char*, const std::string*> later[] = {{"--quality", &words.quality},
                                                                 {"--chroma", &words.chroma}};
    for (const auto& [name, value] : later) {
        if (cannotTake(name, *value))
            return UsageError(std::string(name) + " takes " + takes + ", not '" + *value + "'.");
    }
    options.format = exportWords.format;
    options.quality = exportWords.quality;
    options.chroma = exportWords.chroma;
    std::string sentence;
    if (app.count("--png-level") > 0 && !TakeNumber(words.pngLevel, 1, 9, options.pngLevel, sentence,
                                                    "--png-level takes a whole number from 1 to 9"))
        return UsageError(sentence);
    // Digits past the 32-bit range are a whole number still, only more
    // workers than a run starts (it starts at most twice the cores).
    int32_t jobs = 0;
    if (!words.jobs.empty() && words.jobs.find_first_not_of("0123456789") == std::string::npos &&
        !ParseWholeNumber(words.jobs, jobs, why))
        options.jobs = INT32_MAX;
    else if (app.count("--jobs") > 0 &&
             !TakeNumber(words.jobs, 1, INT32_MAX, options.jobs, sentence, "--jobs takes a whole number of 1 or more"))
        return UsageError(sentence);
    // Each says which outputs that exist are replaced; together they would
    // say two things.
    if (words.force && words.update)
        return UsageError("--force and --update cannot be used together: --force replaces every output that exists, "
                          "--update only those older than their picture.");
    if (words.quiet && words.verbose)
        return UsageError("--quiet and --verbose cannot be used together: --quiet prints only errors and notes, "
                          "--verbose names every output left as it is.");
    if (app.count("--out") > 0 && words.out.empty())
        return UsageError("--out takes a folder, not an empty name.");
    if (words.paths.empty())
        return UsageError("Name at least one picture or folder to tint.");

    options.outFolder = WideOf(words.out);
    options.force = words.force;
    options.update = words.update;
    options.quiet = words.quiet;
    options.verbose = words.verbose;
    options.recursive = words.recursive;
    options.strip = app.count("--strip") > 0 && words.strip == "all";
    options.stripGps = words.strip == "gps";
    for (const std::string& path : words.paths)
        options.paths.push_back(WideOf(path));
    command.request = CliRequest::run;
    return command;
}
