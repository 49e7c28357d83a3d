// The command table and argument parsing. Options of convert may stand
// anywhere after the subcommand, as "--name value" or "--name=value".
#include "tools/pictool/command_line.h"

#include <cstdio>

#include "picture/core/picture.h"

namespace pictool {

namespace {

struct CommandEntry {
  const char* name;
  Command command;
  const char* synopsis;
  const char* summary;
};

const CommandEntry commands[] = {
    {"info", Command::info, "info FILE...",
     "one tab-separated line per file: name, format, format code, WIDTHxHEIGHT,\n"
     "      rgb or map, colour count, compression (none, rle, lzw)"},
    {"convert", Command::convert, "convert IN OUT [--format NAME] [--compression none|rle|lzw] [--dither] [--quiet]",
     "writes IN in the format of --format or else of OUT's extension"},
};

struct CompressionName {
  const char* name;
  int code;
};
const CompressionName compressions[] = {{"none", PIC_COMP_NONE}, {"rle", PIC_COMP_RLE}, {"lzw", PIC_COMP_LZW}};

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

// Splits "--name=value"; *value stays empty without '='.
std::string optionName(const std::string& argument, std::string* value, bool* hasValue) {
  const size_t equals = argument.find('=');
  *hasValue = equals != std::string::npos;
  *value = *hasValue ? argument.substr(equals + 1) : std::string();
  return argument.substr(0, equals);
}

Invocation parseConvert(const std::vector<std::string>& arguments) {
  Invocation invocation = invoke(Command::convert);
  ConvertRequest& request = invocation.convert;
  std::vector<std::string> files;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
      files.push_back(argument);
      continue;
    }
    std::string value;
    bool hasValue;
    const std::string name = optionName(argument, &value, &hasValue);
    const bool takesValue = name == "--format" || name == "--compression";
    if (takesValue && !hasValue) {
      if (i + 1 == arguments.size()) return usage(name + " needs a value");
      value = arguments[++i];
    } else if (!takesValue && hasValue) {
      return usage(name + " takes no value");
    }
    if (name == "--format") {
      request.format = formatByName(value);
      if (!request.format) return usage("unknown format '" + value + "' (formats: " + formatNames() + ")");
    } else if (name == "--compression") {
      for (const CompressionName& compression : compressions)
        if (value == compression.name) request.compression = compression.code;
      if (request.compression < 0) return usage("unknown compression '" + value + "' (none, rle, lzw)");
    } else if (name == "--dither") {
      request.dither = true;
    } else if (name == "--quiet") {
      request.quiet = true;
    } else {
      return usage("unknown option " + argument);
    }
  }
  if (files.size() != 2) return usage("convert takes an input and an output file");
  request.input = files[0];
  request.output = files[1];
  if (!request.format) request.format = formatByExtension(request.output);
  request.grey = request.format == formatByName("pnm") && namesGreyPnm(request.output);
  if (!request.format)
    return usage("cannot tell the format of " + request.output + " from its extension; use --format NAME");
  return invocation;
}

}  // namespace

Invocation parseCommandLine(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) return usage("no command given");
  const std::string& first = arguments[0];
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") return invoke(Command::help);
    if (argument == "--version") return invoke(Command::version);
  }
  for (const CommandEntry& entry : commands) {
    if (first != entry.name) continue;
    if (entry.command == Command::convert) return parseConvert(rest);
    if (rest.empty()) return usage("info needs at least one file");
    Invocation invocation = invoke(Command::info);
    invocation.files = rest;
    return invocation;
  }
  return usage("unknown command '" + first + "'");
}

int printHelp() {
  std::printf("Usage: pictool COMMAND ARGUMENTS...\n\nCommands:\n");
  for (const CommandEntry& entry : commands) std::printf("  %s\n      %s\n", entry.synopsis, entry.summary);
  std::printf(
      "\nOptions of convert:\n"
      "  --format NAME       output format: %s\n"
      "                      (default: from OUT's extension:\n"
      "                      %s)\n"
      "  --compression KIND  none, rle or lzw (default: the format's usual one)\n"
      "  --dither            spread the colour error (Floyd-Steinberg) when true colour\n"
      "                      is reduced to 256 colours for GIF or ZOT\n"
      "  --quiet             no progress bar (it shows on a terminal, for large images)\n"
      "\nOther options:\n"
      "  --help              this text\n"
      "  --version           the picture library's version\n"
      "\nExit status:\n"
      "  0    success\n"
      "  1    usage error\n"
      "  2    the picture library reported a failure (the message names the file)\n"
      "  130  interrupted by SIGINT during a save (no output file is left)\n"
      "  143  ended by SIGTERM during a save (no output file is left)\n",
      formatNames().c_str(), formatExtensions().c_str());
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
