#pragma once
// The test client's command line and script language, without any Windows call.
//
// Command line: [/out=<file>] [/instance=<n>] [/delay=<ms>] [/plain] (/script=<file> | /do=<steps>)
// [/once=<marker file> (/later=<steps> | /laterscript=<file>)] followed by what the host appends:
// " /ServiceID=<id> /ServiceName=<name>". Steps are separated by ';' (and by line breaks in a
// script file); '#' starts a comment line in a file.
//
// The host restarts a client with the same command line every time. /once lets the restarts
// behave differently: the instance that creates the marker file follows /do= or /script=, and
// every instance that finds it already there follows /later= or /laterscript=. /delay holds back
// the lookup of the host, as a client that is slow to start would. /plain makes an ordinary
// client: one that hears the host's events only between its calls.

#include <optional>
#include <string>
#include <vector>

namespace keldran::client {

// The host's two parameters, cut from the end of the command line, and what came before them.
struct HostParams {
  std::string serviceId;
  std::string serviceName;
  std::string rest;
};
// The host appends its parameters unquoted, so the service name runs to the end of the line.
HostParams SplitHostParams(const std::string& commandLine);

// Splits at blanks outside double quotes; the quotes themselves are dropped.
std::vector<std::string> SplitArguments(const std::string& text);

struct Options {
  std::string outFile;
  std::string instance;
  std::string scriptFile;
  std::string steps;  // the /do= text
  std::string onceMarker;
  std::string laterSteps;
  std::string laterScriptFile;
  long delayMs = 0;
  bool plain = false;
  std::vector<std::string> unknown;
};
Options ParseOptions(const std::vector<std::string>& arguments);

// One script step: "name" or "name=value".
struct Step {
  std::string name;
  std::string value;
  bool hasValue = false;
};
std::vector<Step> ParseSteps(const std::string& text);

// "Method(a,b,c)": the arguments are literal texts; "Method()" and "Method" have none, while
// "Method(,)" has two empty ones.
struct Call {
  std::string method;
  std::vector<std::string> args;
};
std::optional<Call> ParseCall(const std::string& text);

// A whole decimal or 0x-prefixed hexadecimal number (negative decimals allowed) of 32 bits; a
// hexadecimal number is a bit pattern, so 0x80004005 is negative.
std::optional<long> ParseNumber(const std::string& text);

}  // namespace keldran::client
