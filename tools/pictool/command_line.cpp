// The command table and argument parsing. Options may stand anywhere after
// the subcommand, as "--name value" or "--name=value"; "--" ends them.
#include "tools/pictool/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "picture/core/picture.h"
#include "tools/pictool/input.h"

namespace pictool {

namespace {

struct CommandEntry {
  const char* name;
  Command command;
  const char* synopsis;
  const char* summary;
};

const CommandEntry commands[] = {
    {"info", Command::info, "info [--max-pixels N] [-j N] FILE...",
     "one tab-separated line per file: name, format, format code, WIDTHxHEIGHT,\n"
     "      rgb or map, colour count, compression (none, rle, lzw)"},
    {"convert", Command::convert,
     "convert IN OUT [--format NAME] [--compression KIND] [--quality N] [--dither]\n"
     "          [--max-pixels N] [--quiet]",
     "writes IN in the format of --format, of a FORMAT: prefix or else of OUT's extension"},
    {"convert", Command::convert, "convert --to FORMAT [-j N] [--out-dir DIR] [options of convert] FILE...",
     "writes each FILE to its own name with FORMAT's extension (in DIR when given),\n"
     "      N at once (default: one per processor; at most N pictures in memory)"},
};

struct OptionEntry {
  const char* name;
  bool takesValue;
  bool convertOnly;
};

const OptionEntry options[] = {
    {"--format", true, true},      {"--compression", true, true}, {"--quality", true, true},
    {"--dither", false, true},     {"--quiet", false, false},     {"--max-pixels", true, false},
    {"--to", true, true},          {"--out-dir", true, true},     {"-j", true, false},
    {"--jobs", true, false},
};

const int mostJobs = 64;

Invocation invoke(Command command) {
  Invocation invocation;
  invocation.command = command;
  return invocation;
}

Invocation usage(const std::string& error) {
  Invocation invocation;
  invocation.error = error;
  return invocation;
}

// A whole non-negative decimal number within [low, high]; false otherwise.
bool parseNumber(const std::string& text, int64_t low, int64_t high, int64_t* number) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < low || value > high) return false;
  *number = value;
  return true;
}

// "FORMAT:PATH" names its format by the prefix when the prefix is a format's
// name or extension; any other name is a plain path.
const Format* splitPrefix(std::string* path) {
  const size_t colon = path->find(':');
  if (colon == std::string::npos || colon < 2 || path->find('/') < colon) return nullptr;
  const Format* format = formatByPrefix(path->substr(0, colon));
  if (format) path->erase(0, colon + 1);
  return format;
}

// Sorts the arguments into options (applied to the invocation) and files.
// The values of --format, --compression, --to and --out-dir, checked once the files are known.
struct NamedValues {
  std::string format, compression, to, outDir;
};

std::string parseArguments(const std::vector<std::string>& arguments, bool convert, Invocation* invocation,
                           std::vector<std::string>* files, NamedValues* named) {
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument == "-" || argument.compare(0, 1, "-") != 0) {
      files->push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    size_t equals = argument.find('=');
    std::string name = argument.substr(0, equals);
    std::string attached;  // "-j4"
    if (argument.compare(0, 2, "-j") == 0 && argument.size() > 2 && equals == std::string::npos) {
      name = "-j";
      attached = argument.substr(2);
    }
    const OptionEntry* option = nullptr;
    for (const OptionEntry& entry : options)
      if (name == entry.name && (convert || !entry.convertOnly)) option = &entry;
    if (!option) return "unknown option " + argument;
    std::string value;
    if (option->takesValue) {
      if (!attached.empty())
        value = attached;
      else if (equals != std::string::npos)
        value = argument.substr(equals + 1);
      else if (i + 1 < arguments.size())
        value = arguments[++i];
      else
        return name + " needs a value";
    } else if (equals != std::string::npos) {
      return name + " takes no value";
    }
    int64_t number = 0;
    if (name == "--format") {
      named->format = value;
    } else if (name == "--compression") {
      named->compression = value;
    } else if (name == "--to") {
      named->to = value;
    } else if (name == "--out-dir") {
      named->outDir = value;
    } else if (name == "-j" || name == "--jobs") {
      if (!parseNumber(value, 1, mostJobs, &number))
        return name + " takes a number from 1 to " + std::to_string(mostJobs) + ", not '" + value + "'";
      invocation->options.jobs = int(number);
    } else if (name == "--quality") {
      if (!parseNumber(value, 1, 100, &number)) return "--quality takes a number from 1 to 100, not '" + value + "'";
      invocation->convert.quality = int(number);
    } else if (name == "--max-pixels") {
      if (!parseNumber(value, 0, INT64_MAX, &number))
        return "--max-pixels takes a number of pixels (0: no limit), not '" + value + "'";
      invocation->options.maxPixels = number;
    } else if (name == "--dither") {
      invocation->convert.dither = true;
    } else if (name == "--quiet") {
      invocation->options.quiet = true;
    }
  }
  return "";
}

// The compression named on the command line, checked against the format's writer.
std::string chooseCompression(const std::string& name, ConvertRequest* request) {
  if (name.empty()) return "";
  request->compression = compressionOf(*request->format, name);
  if (request->compression) return "";
  return std::string(request->format->name) + " files are not written with compression '" + name +
         "' (pictool --help lists what each format takes)";
}

Invocation parseBatch(Invocation invocation, const std::vector<std::string>& files, const NamedValues& named) {
  BatchRequest& batch = invocation.batchConvert;
  batch.options = invocation.convert;
  batch.options.format = formatByPrefix(named.to);
  if (!batch.options.format) return usage("unknown format '" + named.to + "' (formats: " + formatNames() + ")");
  if (!named.format.empty()) return usage("--to and --format cannot be given together");
  batch.options.grey = namesGreyPnm("." + named.to);
  const std::string error = chooseCompression(named.compression, &batch.options);
  if (!error.empty()) return usage(error);
  if (files.empty()) return usage("convert --to needs at least one file");
  for (const std::string& file : files)
    if (file == "-") return usage("convert --to converts files; standard input needs convert - OUT");
  batch.inputs = files;
  batch.outDir = named.outDir;
  invocation.batch = true;
  return invocation;
}

Invocation parseConvert(const std::vector<std::string>& arguments) {
  Invocation invocation = invoke(Command::convert);
  ConvertRequest& request = invocation.convert;
  std::vector<std::string> files;
  NamedValues named;
  const std::string error = parseArguments(arguments, true, &invocation, &files, &named);
  if (!error.empty()) return usage(error);
  if (!named.to.empty()) return parseBatch(invocation, files, named);
  if (!named.outDir.empty()) return usage("--out-dir goes with --to FORMAT");
  if (files.size() != 2) return usage("convert takes an input and an output file");
  request.input = files[0];
  request.output = files[1];
  if (!inputExists(request.input)) splitPrefix(&request.input);  // the content decides the input's format
  const Format* prefixed = splitPrefix(&request.output);
  if (!named.format.empty()) {
    request.format = formatByName(named.format);
    if (!request.format) return usage("unknown format '" + named.format + "' (formats: " + formatNames() + ")");
  }
  if (!request.format) request.format = prefixed;
  if (!request.format && request.output != "-") request.format = formatByExtension(request.output);
  if (!request.format && request.output == "-")
    return usage("writing to standard output needs --format NAME or a FORMAT: prefix (png:-)");
  if (!request.format)
    return usage("cannot tell the format of " + request.output + " from its extension; use --format NAME");
  request.grey = request.format == formatByName("pnm") && namesGreyPnm(request.output);
  const std::string compressionError = chooseCompression(named.compression, &request);
  return compressionError.empty() ? invocation : usage(compressionError);
}

Invocation parseInfo(const std::vector<std::string>& arguments) {
  Invocation invocation = invoke(Command::info);
  NamedValues named;
  const std::string error = parseArguments(arguments, false, &invocation, &invocation.files, &named);
  if (!error.empty()) return usage(error);
  if (invocation.files.empty()) return usage("info needs at least one file");
  for (std::string& file : invocation.files)
    if (!inputExists(file)) splitPrefix(&file);
  return invocation;
}

}  // namespace

Invocation parseCommandLine(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) return usage("no command given");
  const std::string& first = arguments[0];
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") return invoke(Command::help);
    if (argument == "--version") return invoke(Command::version);
  }
  for (const CommandEntry& entry : commands)
    if (first == entry.name) return entry.command == Command::convert ? parseConvert(rest) : parseInfo(rest);
  return usage("unknown command '" + first + "'");
}

int printHelp() {
  std::printf("Usage: pictool COMMAND ARGUMENTS...\n\nCommands:\n");
  for (const CommandEntry& entry : commands) std::printf("  %s\n      %s\n", entry.synopsis, entry.summary);
  std::printf(
      "\nFiles:\n"
      "  -                   standard input (IN, info) or standard output (OUT; needs\n"
      "                      --format or a prefix); nothing else goes to standard output\n"
      "  FORMAT:FILE         names OUT's format by its prefix (png:-, jpg:photo.out);\n"
      "                      an input's format is always told from its content\n"
      "  Reading stops past %lld bytes per pixel of the picture the input describes,\n"
      "  plus %lld MB: no picture needs more.\n"
      "\nOptions:\n"
      "  --format NAME       output format: %s\n"
      "                      (default: from OUT's extension:\n"
      "                      %s)\n"
      "  --compression KIND  what OUT's writer makes (the first is the usual one):\n%s"
      "  --quality N         JPEG quality, 1 to 100 (default 100); other formats ignore it\n"
      "  --dither            spread the colour error (Floyd-Steinberg) when true colour\n"
      "                      is reduced to 256 colours for GIF or ZOT\n"
      "  --max-pixels N      refuse pictures of more than N pixels (default %lld; 0: no\n"
      "                      limit); it bounds the memory a file can make the tool take\n"
      "  --quiet             no progress bar (it shows on a terminal, for large images)\n"
      "  -j N, --jobs N      files converted or described at once (1 to 64; default:\n"
      "                      one per processor); at most N pictures are in memory\n"
      "  --to FORMAT         convert every FILE to FORMAT, each to its own name with\n"
      "                      FORMAT's extension; a file that fails is named and the\n"
      "                      others go on; two files that would write one name, or a\n"
      "                      file that would replace itself, are not converted\n"
      "  --out-dir DIR       with --to: write the outputs into DIR\n"
      "  --                  ends the options: what follows are files\n"
      "  --help              this text\n"
      "  --version           the picture library's version\n"
      "\nOUT is written under a temporary name and put in place when complete: an\n"
      "existing OUT keeps its permissions, a link stays a link, a device or FIFO is\n"
      "written through, and an OUT you may not write is refused.\n"
      "\nExit status:\n"
      "  0    success\n"
      "  1    usage error (nothing is read or written)\n"
      "  2    a file could not be read, described, loaded or written (the message\n"
      "       names the file and says why)\n"
      "  128+N  ended by signal N during a conversion (SIGINT 130, SIGTERM 143, SIGHUP,\n"
      "       SIGPIPE, SIGQUIT, SIGXFSZ); no temporary file is left, OUT is as it was\n",
      static_cast<long long>(inputBytesPerPixel), static_cast<long long>(inputSlackBytes >> 20),
      formatNames().c_str(), formatExtensions().c_str(), compressionTable().c_str(),
      static_cast<long long>(PIC_DEFAULT_PIXEL_LIMIT));
  return exitSuccess;
}

int printVersion() {
  std::printf("pictool %s\n", picVersion());
  return exitSuccess;
}

int reportUsageError(const std::string& error) {
  std::fprintf(stderr, "pictool: %s\nTry 'pictool --help'.\n", error.c_str());
  return exitUsage;
}

}  // namespace pictool
