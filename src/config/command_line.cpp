#include "config/command_line.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "log/text.h"

namespace keldran {
namespace {

std::string TrimmedBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The installer key of a /Set: option by its canonical name, or none.
const char* InstallerKey(const std::string& name) {
  for (const char* key : kInstallerKeys) {
    if (EqualsIgnoringCase(name, key)) return key;
  }
  return nullptr;
}

// The option whose value runs to the end of the line, unsplit, quotes kept.
constexpr const char* kRestOfLineOption = "Set:CommandLine=";

// What "%d%c" accepts as exactly one item: an optional sign and digits, nothing after. Values
// beyond a 32-bit integer are refused too, and so is a NUL inside the text (strtol would stop
// there and take the digits before it for the whole value).
bool ParseTimeout(const std::string& text, std::int32_t* value) {
  const char* begin = text.c_str();
  const char* const last = text.c_str() + text.size();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (begin == last) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (end == begin || end != last || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
    return false;
  *value = static_cast<std::int32_t>(parsed);
  return true;
}

// One word of the command line: its text without the quotes, and whether it is an option (its
// first character an unquoted "/" or "-", which is not part of the text).
struct Word {
  std::string text;
  bool option = false;
};

// Splits at blanks; double quotes group blanks into the word and are dropped. A quote left open
// runs to the end of the line. An empty pair of quotes is no word. The whole command line is
// read, however long. /Set:CommandLine= takes the rest of the line as its word, as it stands.
std::vector<Word> SplitWords(ISystemTexts& texts, const std::string& line) {
  // CharNextA steps over a double-byte character whole, and stays on a NUL: always move on.
  auto next = [&](std::size_t at) {
    return std::min(std::max(texts.CharNext(line, at), at + 1), line.size());
  };
  std::vector<Word> words;
  std::size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ') {
      ++at;
      continue;
    }
    Word word;
    if (line[at] == '/' || line[at] == '-') {
      word.option = true;
      ++at;
      if (StartsWithIgnoringCase(std::string_view(line).substr(at), kRestOfLineOption)) {
        word.text = line.substr(at);
        words.push_back(std::move(word));
        break;
      }
    }
    bool quoted = false;
    while (at < line.size() && (quoted || line[at] != ' ')) {
      const std::size_t after = next(at);
      if (line[at] == '"')
        quoted = !quoted;
      else
        word.text.append(line, at, after - at);
      at = after;
    }
    if (word.option || !word.text.empty()) words.push_back(std::move(word));
  }
  return words;
}

}  // namespace

CommandLineResult ParseCommandLine(ISystemTexts& texts, const std::string& commandLine) {
  using Kind = CommandLineSetting::Kind;
  CommandLineResult result;
  ParsedCommandLine& p = result.parsed;
  RunFlags& f = p.flags;
  const std::vector<Word> words = SplitWords(texts, commandLine);

  // The component: the words before the first option.
  std::size_t i = 0;
  for (; i < words.size() && !words[i].option; ++i) {
    if (!p.component.empty()) p.component += ' ';
    p.component += words[i].text;
  }
  if (p.component.empty()) p.component = names::kDefaultComponent;

  auto bothLists = [&p](const char* entry) {
    p.givenOptions += entry;
    p.givenRegOptions += entry;
  };
  for (; i < words.size(); ++i) {
    const std::string& token = words[i].text;
    // After an option only another option or the end may follow.
    if (i + 1 < words.size() && !words[i + 1].option) {
      result.rejection = "Unrecognized value following option /" + token;
      return result;
    }
    if (EqualsIgnoringCase(token, "Service")) {
      f.RunAsService = f.ServiceSwitch = f.Quiet = true;
      p.givenOptions += "/Service ";
    } else if (EqualsIgnoringCase(token, "Quiet")) {
      f.Quiet = true;
    } else if (EqualsIgnoringCase(token, "Reg")) {
      f.RegApp = f.RegServ = true;
      bothLists("/Reg ");
    } else if (EqualsIgnoringCase(token, "RegApp")) {
      f.RegApp = true;
      bothLists("/RegApp ");
    } else if (EqualsIgnoringCase(token, "RegServ")) {
      f.RegServ = true;
      bothLists("/RegServ ");
    } else if (EqualsIgnoringCase(token, "RegService")) {
      f.RegServ = true;
      bothLists("/RegService ");
    } else if (EqualsIgnoringCase(token, "UnReg")) {
      f.UnReg = true;
      p.givenOptions += "/UnReg ";
    } else if (EqualsIgnoringCase(token, "Commit")) {
      f.RegServ = f.CommitStep = f.Quiet = true;
      bothLists("/Commit ");
    } else if (EqualsIgnoringCase(token, "Uninstall")) {
      f.UnReg = f.RemoveStep = f.Quiet = true;
      bothLists("/Uninstall ");
    } else if (EqualsIgnoringCase(token, "Rollback")) {
      f.UnReg = f.RemoveStep = f.Quiet = true;
      bothLists("/Rollback ");
    } else if (EqualsIgnoringCase(token, "Debug")) {
      p.givenOptions += "/Debug ";
      p.settings.push_back({Kind::kDebug});
    } else if (EqualsIgnoringCase(token, "Release")) {
      p.givenOptions += "/Release ";
      p.settings.push_back({Kind::kRelease});
    } else if (StartsWithIgnoringCase(token, "Timeout=")) {
      p.givenOptions += "/" + token + " ";
      std::int32_t seconds = 0;
      if (!ParseTimeout(token.substr(8), &seconds) || seconds < 0) {
        result.rejection = "Unrecognized parameter value specified for option /" + token;
        return result;
      }
      p.settings.push_back({Kind::kTimeout, seconds});
    } else if (EqualsIgnoringCase(token, "Show")) {
      p.givenOptions += "/Show ";
      p.settings.push_back({Kind::kShow});
    } else if (EqualsIgnoringCase(token, "Hide")) {
      p.givenOptions += "/Hide ";
      p.settings.push_back({Kind::kHide});
    } else if (EqualsIgnoringCase(token, "Auto") || EqualsIgnoringCase(token, "AutoStart")) {
      p.givenOptions += "/" + token + " ";
      p.settings.push_back({Kind::kAutoStart});
    } else if (EqualsIgnoringCase(token, "Manual")) {
      p.givenOptions += "/Manual ";
      p.settings.push_back({Kind::kManual});
    } else if (EqualsIgnoringCase(token, "Start")) {
      f.StartRequested = true;
    } else if (EqualsIgnoringCase(token, "Stop")) {
      f.StopRequested = true;
    } else if (EqualsIgnoringCase(token, "Status")) {
      // Answers on the console, never with a box.
      f.StatusRequested = f.Quiet = true;
    } else if (EqualsIgnoringCase(token, "Json")) {
      f.JsonRequested = true;
    } else if (EqualsIgnoringCase(token, "Check")) {
      f.CheckRequested = f.Quiet = true;
    } else if (StartsWithIgnoringCase(token, "Set:")) {
      const std::size_t equals = token.find('=');
      const char* key =
          equals == std::string::npos ? nullptr : InstallerKey(token.substr(4, equals - 4));
      if (!key) {
        result.rejection = "Option /" + token + " not recognized";
        return result;
      }
      p.iniSettings.push_back({key, TrimmedBlanks(token.substr(equals + 1))});
      p.givenInstallerOptions += std::string("/Set:") + key + "= ";
    } else if (StartsWithIgnoringCase(token, "ReplaceConfig=")) {
      // An installer passes its property as it is: empty when not set.
      const std::string value = token.substr(14);
      if (value != "" && value != "0" && value != "1") {
        result.rejection = "Unrecognized parameter value specified for option /" + token;
        return result;
      }
      f.ReplaceConfig = value == "1";
      p.givenInstallerOptions += "/" + token + " ";
    } else if (StartsWithIgnoringCase(token, "Upgrade=")) {
      f.UpgradeCommit = token.size() > 8;
      p.givenInstallerOptions += "/Upgrade= ";
    } else {
      result.rejection = "Option /" + token + " not recognized";
      return result;
    }
  }
  return result;
}

std::optional<std::string> CheckOptionCombination(const ParsedCommandLine& parsed) {
  const RunFlags& f = parsed.flags;
  if (f.UnReg && (f.RegApp || f.RegServ))
    return "You cannot code /UnReg and " + parsed.givenRegOptions + " options together";
  if (!f.CommitStep && !parsed.givenInstallerOptions.empty())
    return "You cannot code " + parsed.givenInstallerOptions + "options without /Commit";
  if (f.StartRequested && f.StopRequested)
    return std::string("You cannot code /Start option together with /Stop");
  if ((f.StartRequested || f.StopRequested) && !parsed.givenOptions.empty()) {
    return std::string("You cannot code /") + (f.StartRequested ? "Start" : "Stop") +
           " option together with " + parsed.givenOptions;
  }
  // /Json is a form of /Status, and nothing else.
  if (f.JsonRequested && !f.StatusRequested)
    return std::string("You cannot code /Json option without /Status");
  // /Status and /Check stand alone (with /Quiet at most, and /Status with /Json).
  const char* alone = f.StatusRequested ? "Status" : f.CheckRequested ? "Check" : nullptr;
  if (alone) {
    std::string others = parsed.givenOptions;
    if (f.StatusRequested && f.CheckRequested) others += "/Check ";
    if (f.StartRequested) others += "/Start ";
    if (f.StopRequested) others += "/Stop ";
    if (!others.empty())
      return std::string("You cannot code /") + alone + " option together with " + others;
  }
  return std::nullopt;
}

void ApplyCommandLineSettings(const std::vector<CommandLineSetting>& settings,
                              Configuration* config) {
  using Kind = CommandLineSetting::Kind;
  bool timeoutGiven = false, showGiven = false, hideGiven = false;
  for (const auto& setting : settings) {
    switch (setting.kind) {
      case Kind::kDebug:
        config->Debug = 1;
        if (!timeoutGiven) config->Timeout = 0;
        if (!hideGiven) config->Show = 1;
        break;
      case Kind::kRelease:
        config->Debug = 0;
        if (!timeoutGiven && config->Timeout == 0) config->Timeout = 60;
        if (!showGiven) config->Show = 0;
        break;
      case Kind::kTimeout:
        config->Timeout = setting.value;
        timeoutGiven = true;
        break;
      case Kind::kShow:
        config->Show = 1;
        showGiven = true;
        break;
      case Kind::kHide:
        config->Show = 0;
        hideGiven = true;
        break;
      case Kind::kAutoStart:
        config->AutoStart = 1;
        break;
      case Kind::kManual:
        config->AutoStart = 0;
        break;
    }
  }
}

}  // namespace keldran
