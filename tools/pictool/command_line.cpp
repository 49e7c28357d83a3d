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
    {"info", Command::info, "info [--max-pixels N] FILE...",
     "one tab-separated line per file: name, format, format code, WIDTHxHEIGHT,\n"
     "      rgb or map, colour count, compression (none, rle, lzw)"},
    {"convert", Command::convert,
     "convert IN OUT [--format NAME] [--compression KIND] [--quality N] [--dither]\n"
     "          [--max-pixels N] [--quiet]",
     "writes IN in the format of --format, of a FORMAT: prefix or else of OUT's extension"},
};

struct OptionEntry {
  const char* name;
  bool takesValue;
  bool convertOnly;
};

const OptionEntry options[] = {
    {"--format", true, true},      {"--compression", true, true}, {"--quality", true, true},
    {"--dither", false, true},     {"--quiet", false, false},     {"--max-pixels", true, false},
};

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
std::string parseArguments(const std::vector<std::string>& arguments, bool convert, Invocation* invocation,
                           std::vector<std::string>* files, std::string* formatName, std::string* compressionName) {
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
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionEntry* option = nullptr;
    for (const OptionEntry& entry : options)
      if (name == entry.name && (convert || !entry.convertOnly)) option = &entry;
    if (!option) return "unknown option " + argument;
    std::string value;
    if (option->takesValue) {
      if (equals != std::string::npos)
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
      *formatName = value;
    } else if (name == "--compression") {
      *compressionName = value;
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

Invocation parseConvert(const std::vector<std::string>& arguments) {
  Invocation invocation = invoke(Command::convert);
  ConvertRequest& request = invocation.convert;
  std::vector<std::string> files;
  std::string formatName, compressionName;
  const std::string error = parseArguments(arguments, true, &invocation, &files, &formatName, &compressionName);
  if (!error.empty()) return usage(error);
  if (files.size() != 2) return usage("convert takes an input and an output file");
  request.input = files[0];
  request.output = files[1];
  if (!inputExists(request.input)) splitPrefix(&request.input);  // the content decides the input's format
  const Format* prefixed = splitPrefix(&request.output);
  if (!formatName.empty()) {
    request.format = formatByName(formatName);
    if (!request.format) return usage("unknown format '" + formatName + "' (formats: " + formatNames() + ")");
  }
  if (!request.format) request.format = prefixed;
  if (!request.format && request.output != "-") request.format = formatByExtension(request.output);
  if (!request.format && request.output == "-")
    return usage("writing to standard output needs --format NAME or a FORMAT: prefix (png:-)");
  if (!request.format)
    return usage("cannot tell the format of " + request.output + " from its extension; use --format NAME");
  request.grey = request.format == formatByName("pnm") && namesGreyPnm(request.output);
  if (!compressionName.empty()) {
    request.compression = request.format->compression(compressionName);
    if (!request.compression)
      return usage(std::string(request.format->name) + " files are not written with compression '" +
                   compressionName + "' (pictool --help lists what each format takes)");
  }
  return invocation;
}

Invocation parseInfo(const std::vector<std::string>& arguments) {
  Invocation invocation = invoke(Command::info);
  std::string formatName, compressionName;
  const std::string error =
      parseArguments(arguments, false, &invocation, &invocation.files, &formatName, &compressionName);
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
