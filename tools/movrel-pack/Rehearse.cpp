#include "movrel-pack/Rehearse.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "movrel-pack/Choices.h"
#include "movrel-pack/Error.h"
#include "movrel-pack/File.h"
#include "movrel-pack/Locate.h"
#include "package/PackageLayout.h"

extern char** environ;

namespace movrel::pack {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// The flasher lists at most 16 drives (the drive table of its device); a larger bay runs in turns.
constexpr std::size_t kDrivesPerRun = 16;

// What the terminal flasher prints, byte for byte (app/WindowTexts.h).
constexpr char kWillBeUpdated[] = "It will be updated from ";
constexpr char kAlreadyUpdated[] = "Your drive's Firmware is already the most updated !";
constexpr char kFlashSucceeded[] = "Firmware has been updated successfully !";
constexpr char kFlashFailed[] = "Unable to flash firmware. Please contact with your vendor !";

// A drive of the bay, and why it is there ("1.2 below minimum": bank 1, constraint entry 2).
struct Drive {
  std::string vendor, product, revision;
  std::optional<std::array<unsigned char, 4>> flashId;
  std::string why;
};

// What the flasher did with a drive.
struct Outcome {
  bool offered = false;
  std::string says;              // the line under the drive list, or why no list was shown
  std::string bank;              // "1", "1/2" when banks install the same revision; "-"
  std::optional<bool> upToDate;  // where N2OMESSAGE applies to an offered drive
  bool ran = false;              // an update was run (--update, AUTOMODE)
  int commands = 0;
  std::string program = "-";  // the drive-side program the drive took
  std::string result = "-";
};

std::string TrimmedRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// A field of the package's block: at most `limit` bytes, up to a zero byte.
std::string Bounded(std::string_view text, std::size_t limit) {
  std::string copy(text.substr(0, limit));
  return copy.substr(0, copy.find('\0'));
}

bool SameDrive(const Drive& a, const DriveArg& b) {
  return TrimmedRight(a.vendor) == TrimmedRight(b.vendor) &&
         TrimmedRight(a.product) == TrimmedRight(b.product) &&
         TrimmedRight(a.revision) == TrimmedRight(b.revision);
}

// The four-character revision next to `text` in the flasher's order, below it (`down`) or above:
// of the texts that keep a head of `text`, change the character after it and fill the rest with the
// lowest or highest printable character, the one closest on the right side. A revision of 4
// characters is what the drive reports (INQUIRY pads it with spaces).
std::optional<std::string> NextRevision(const std::string& text, bool down) {
  std::string padded = text;
  padded.resize(4, ' ');
  const auto closer = [down](const std::string& a, const std::string& b) {
    return down ? CompareRevisions(a, b) > 0 : CompareRevisions(a, b) < 0;
  };
  char fill = '!';  // the extreme printable character in the order: highest below, lowest above
  for (char c = '!'; c <= '~'; ++c) {
    if (closer(std::string(1, c), std::string(1, fill)) != down) fill = c;
  }
  std::optional<std::string> best;
  for (std::size_t at = 0; at < padded.size(); ++at) {
    for (char c = '!'; c <= '~'; ++c) {
      std::string candidate = padded.substr(0, at) + c + std::string(padded.size() - at - 1, fill);
      const int order = CompareRevisions(candidate, padded);
      if (down ? order >= 0 : order <= 0) continue;
      if (!best || closer(candidate, *best)) best = candidate;
    }
  }
  return best;
}

// A product next to `product`: its last character one higher (or lower, for the last one).
std::string OtherProduct(std::string product) {
  char& last = product.back();
  last = last < '~' ? static_cast<char>(last + 1) : static_cast<char>(last - 1);
  return product;
}

// The drives that probe the package's constraint rows, then those given by hand and those
// expected to be offered; a drive already in the bay is not added again.
std::vector<Drive> PlanBay(const package::PackageView& package, const RehearseRequest& request) {
  std::vector<Drive> drives;
  const auto add = [&drives](Drive drive) {
    const DriveArg key{drive.vendor, drive.product, drive.revision, std::nullopt};
    if (std::none_of(drives.begin(), drives.end(),
                     [&key](const Drive& d) { return SameDrive(d, key); })) {
      drives.push_back(std::move(drive));
    }
  };
  for (int b = 0; b < package.BankCount(); ++b) {
    const std::string bank = std::to_string(b + 1);
    const std::string newRevision = Bounded(package.NewRevision(b), 4);
    // A free first entry lets the bank update every drive.
    if (package.Constraint(b, 0).IsPlaceholder()) {
      add({"Vendor", "Product", newRevision, std::nullopt, bank + " any drive"});
      continue;
    }
    for (int e = 0; e < package::layout::kEntriesPerBank; ++e) {
      const package::ConstraintEntry entry = package.Constraint(b, e);
      if (entry.IsPlaceholder()) continue;
      const std::string tag = bank + "." + std::to_string(e + 1) + " ";
      const std::string minimum = Bounded(entry.Minimum(), 4);
      const std::string maximum = Bounded(entry.Maximum(), 4);
      const std::string vendor = TrimmedRight(Bounded(entry.Vendor(), 8));
      const std::string product = TrimmedRight(Bounded(entry.Product(), 16));
      // An empty field places no condition: any text will do.
      const std::string v = vendor.empty() ? "Vendor" : vendor;
      const std::string p = product.empty() ? "Product" : product;
      if (!minimum.empty()) {
        add({v, p, minimum, std::nullopt, tag + "minimum"});
        if (auto below = NextRevision(minimum, true)) {
          add({v, p, *below, std::nullopt, tag + "below minimum"});
        }
      }
      if (!maximum.empty()) {
        add({v, p, maximum, std::nullopt, tag + "maximum"});
        if (auto above = NextRevision(maximum, false)) {
          add({v, p, *above, std::nullopt, tag + "above maximum"});
        }
      }
      const std::string revision = !minimum.empty()   ? minimum
                                   : !maximum.empty() ? maximum
                                                      : newRevision;
      if (minimum.empty() && maximum.empty()) {
        add({v, p, revision, std::nullopt, tag + "any revision"});
      }
      if (!vendor.empty()) {
        add({vendor == "Kestrel" ? "Dornavex" : "Kestrel", p, revision, std::nullopt,
             tag + "other vendor"});
      }
      if (!product.empty()) {
        add({v, OtherProduct(product), revision, std::nullopt, tag + "other product"});
      }
    }
  }
  for (const DriveArg& given : request.drives) {
    add({given.vendor, given.product, given.revision, given.flashId, "given"});
  }
  for (const DriveArg& expected : request.expectOffered) {
    add({expected.vendor, expected.product, expected.revision, std::nullopt, "expected"});
  }
  return drives;
}

// The drive at place `i` of a run: its letter, D: onwards (C: is the system's fixed disc).
char Letter(std::size_t i) {
  return static_cast<char>('D' + i);
}

// The bay file of the simulated machine (sim/Bay.h): the drives from `first` on, each with its own
// root and target, on the virtual clock, so that no wait of the flasher takes real time.
std::string BayFile(const std::vector<Drive>& drives, std::size_t first, std::size_t count) {
  Json bay = {{"family", "nt"}, {"clock", "virtual"}, {"drives", Json::array()}};
  for (std::size_t i = 0; i < count; ++i) {
    const Drive& drive = drives[first + i];
    Json json = {{"name", std::string(1, Letter(i))}, {"root", std::string(1, Letter(i)) + ":\\"},
                 {"address", {0, 0, i, 0}},           {"vendor", drive.vendor},
                 {"product", drive.product},          {"revision", drive.revision}};
    if (drive.flashId) {
      char hex[12];
      const auto& id = *drive.flashId;
      std::snprintf(hex, sizeof hex, "%02X %02X %02X %02X", id[0], id[1], id[2], id[3]);
      json["flash_id"] = hex;
    }
    bay["drives"].push_back(json);
  }
  return bay.dump(2) + "\n";
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A directory of its own for one rehearsal, removed with everything in it at the end.
class WorkDirectory {
 public:
  WorkDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/movrel-rehearse-XXXXXX";
    // mkdtemp(3) creates the directory with mode 0700 under a name no other process has taken.
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw Refusal("cannot create a directory for the rehearsal: " +
                    std::string(std::strerror(errno)));
    }
    path = pattern;
  }
  ~WorkDirectory() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;

  fs::path path;
};

struct Run {
  int status;
  std::string output;  // standard output and error, as a person at a terminal reads them
  std::string trace;   // the simulated machine's command trace
};

// Runs `flasher` on the bay, answering it with `input`. posix_spawn(3) starts it with standard
// input read from a file (its end means nobody answers any more), standard output and error into
// one file, and the environment of this process with the bay and trace files named; the simulated
// machine reads them at start-up and writes the trace when the program ends. waitpid(2) is
// repeated after an interrupting signal.
Run RunFlasher(const std::string& flasher, const fs::path& dir, const std::string& bay,
               const std::string& input) {
  const fs::path bayPath = dir / "bay.json", inputPath = dir / "input.txt",
                 outputPath = dir / "output.txt", tracePath = dir / "trace.txt";
  std::ofstream(bayPath, std::ios::binary | std::ios::trunc) << bay;
  std::ofstream(inputPath, std::ios::binary | std::ios::trunc) << input;
  std::ofstream(tracePath, std::ios::trunc).flush();

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("MOVREL_SIM_BAY=") || text.starts_with("MOVREL_SIM_TRACE=")) continue;
    environment.emplace_back(text);
  }
  environment.push_back("MOVREL_SIM_BAY=" + bayPath.string());
  environment.push_back("MOVREL_SIM_TRACE=" + tracePath.string());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = flasher;
  char* argv[] = {program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  // posix_spawn returns the error number itself (the child's exec failure included, in glibc).
  const int error = posix_spawn(&pid, flasher.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw Refusal("cannot run the flasher '" + flasher + "': " + std::strerror(error));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw Refusal("lost the flasher: " + std::string(std::strerror(errno)));
  }
  if (!WIFEXITED(status)) {
    throw Refusal("the flasher '" + flasher + "' ended by signal " +
                  std::to_string(WTERMSIG(status)));
  }
  Run run{WEXITSTATUS(status), ReadText(outputPath), ReadText(tracePath)};
  // The simulated machine ends with status 3 when it cannot use the bay.
  if (run.status == 3) throw Refusal("the simulated flasher did not start: " + run.output);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the flasher's output says of each drive, by its letter: the last line of the list that
// names it (its number and revision), and the line under the list while it was selected.
struct Listing {
  std::map<char, int> number;
  std::map<char, std::string> revision;
  std::map<char, std::string> says;
};

// A drive's line of the list: "> 1)  0-0-0-0 D:DornavexDVDRW KTR-207M   RV05", selected or not,
// its number, address, root, identity and revision (ConsoleView, texts::kDriveLine).
struct DriveLine {
  bool selected = false;
  int number = 0;
  char letter = 0;
  std::string revision;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The digits at `at` (at least one), moving `at` past them.
std::optional<int> Digits(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  int number = 0;
  while (at < text.size() && IsDigit(text[at]) && at - start < 6)
    number = number * 10 + (text[at++] - '0');
  if (at == start) return std::nullopt;
  return number;
}

std::optional<DriveLine> ReadDriveLine(const std::string& text) {
  if (text.size() < 4 || (text[0] != '>' && text[0] != ' ') || text[1] != ' ') return std::nullopt;
  DriveLine line;
  line.selected = text[0] == '>';
  std::size_t at = 2;
  const auto number = Digits(text, at);
  if (!number || at + 1 >= text.size() || text[at] != ')' || text[at + 1] != ' ')
    return std::nullopt;
  line.number = *number;
  at = text.find_first_not_of(' ', at + 1);
  for (int part = 0; part < 4; ++part) {  // the address, host-channel-id-lun
    if (at == std::string::npos || !Digits(text, at)) return std::nullopt;
    if (part < 3 && (at >= text.size() || text[at++] != '-')) return std::nullopt;
  }
  if (at + 3 > text.size() || text[at] != ' ' || text[at + 1] < 'A' || text[at + 1] > 'Z' ||
      text[at + 2] != ':' || text.size() < at + 3 + 5 || text[text.size() - 5] != ' ') {
    return std::nullopt;
  }
  line.letter = text[at + 1];
  line.revision = text.substr(text.size() - 4);
  return line;
}

Listing ReadListing(const std::string& output) {
  Listing listing;
  std::optional<char> selected;
  bool inList = false;
  for (const std::string& text : Lines(output)) {
    if (const auto line = ReadDriveLine(text)) {
      listing.number[line->letter] = line->number;
      listing.revision[line->letter] = line->revision;
      if (line->selected) selected = line->letter;
      inList = true;
      continue;
    }
    if (inList && selected) listing.says[*selected] = text;
    inList = false;
    selected.reset();
  }
  return listing;
}

// Why the flasher showed no list: the first line of its first error, else its last line.
std::string WhyNoList(const Run& run) {
  const std::vector<std::string> lines = Lines(run.output);
  for (const std::string& text : lines) {
    if (text.starts_with("[Error] ")) return text.substr(8);
  }
  return lines.empty()
             ? "(the flasher printed nothing, exit status " + std::to_string(run.status) + ")"
             : lines.back();
}

// The trace's lines for the drive `letter`: commands ("D 12 00 ... in 96 good") and the drive's
// notes ("D program row 19 match").
void ReadTrace(const std::string& trace, char letter, Outcome& outcome) {
  const auto isHex = [](char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); };
  // "D" then twelve " HH": a command.
  const auto isCommand = [&](const std::string& text) {
    if (text.size() < 1 + 12 * 3 + 1) return false;
    for (std::size_t i = 0; i < 12; ++i) {
      const std::size_t at = 1 + 3 * i;
      if (text[at] != ' ' || !isHex(text[at + 1]) || !isHex(text[at + 2])) return false;
    }
    return text[37] == ' ';
  };
  const std::string programRow = std::string(1, letter) + " program row ";
  outcome.commands = 0;
  for (const std::string& text : Lines(trace)) {
    if (text.empty() || text[0] != letter) continue;
    if (isCommand(text)) {
      ++outcome.commands;
    } else if (text == std::string(1, letter) + " program mismatch") {
      outcome.program = "mismatch";
    } else if (text.starts_with(programRow) && text.ends_with(" match")) {
      const std::string row = text.substr(
          programRow.size(), text.size() - programRow.size() - std::string(" match").size());
      std::size_t at = 0;
      if (Digits(row, at) && at == row.size()) outcome.program = "row " + row;
    }
  }
}

// The banks whose new revision is `revision`, as "1" or "1/3".
std::string BanksInstalling(const package::PackageView& package, const std::string& revision) {
  std::string banks;
  for (int b = 0; b < package.BankCount(); ++b) {
    if (Bounded(package.NewRevision(b), 4) != revision) continue;
    banks += (banks.empty() ? "" : "/") + std::to_string(b + 1);
  }
  return banks.empty() ? "?" : banks;
}

// The result of an update run, from the flasher's closing message and the drive's revision in the
// list it shows again after the run.
std::string UpdateResult(const Run& run, char letter) {
  const bool succeeded = run.output.find(kFlashSucceeded) != std::string::npos;
  const bool failed = run.output.find(kFlashFailed) != std::string::npos;
  std::string result = succeeded ? "updated" : failed ? "failed" : "not updated";
  const std::size_t end = run.output.rfind(succeeded ? kFlashSucceeded : kFlashFailed);
  const Listing after = ReadListing(end == std::string::npos ? "" : run.output.substr(end));
  if (succeeded && after.revision.count(letter)) result += ", now " + after.revision.at(letter);
  if (run.trace.find("- restart") != std::string::npos) result += ", machine restarts";
  return result;
}

// One turn: up to 16 drives in one bay. The listing run selects every line in turn; an update run
// per offered drive (fresh machine each time) selects it, presses u and answers yes if asked
// whether to update a drive already up to date. A package in automatic mode updates every offered
// drive at start-up, unasked: its one run is the update.
void RunTurn(const std::string& flasher, const fs::path& dir, const package::PackageView& package,
             const std::vector<Drive>& drives, std::size_t first, std::size_t count, bool update,
             std::vector<Outcome>& outcomes) {
  const package::PackageOptions options = package.Options();
  const std::string bay = BayFile(drives, first, count);
  const std::string notice = options.warning == 1 ? "y\n" : "";
  std::string input = notice;
  for (std::size_t i = 0; i < count; ++i) input += std::to_string(i + 1) + "\n";
  const Run listing = RunFlasher(flasher, dir, bay, input + "q\n");
  const Listing listed = ReadListing(listing.output);
  for (std::size_t i = 0; i < count; ++i) {
    Outcome& outcome = outcomes[first + i];
    const char letter = Letter(i);
    if (options.autoMode != 0) {
      ReadTrace(listing.trace, letter, outcome);
      outcome.ran = outcome.offered = outcome.program != "-";
      // The run is over before any list is shown: a drive left out of it was not offered.
      const bool started = listing.output.find(kFlashSucceeded) != std::string::npos ||
                           listing.output.find(kFlashFailed) != std::string::npos;
      outcome.says = outcome.offered ? "updated at start-up (AUTOMODE)"
                     : started       ? "not updated at start-up (AUTOMODE)"
                                     : WhyNoList(listing);
      if (outcome.offered) outcome.result = UpdateResult(listing, letter);
      continue;
    }
    if (!listed.says.count(letter)) {
      outcome.says = WhyNoList(listing);
      continue;
    }
    outcome.says = listed.says.at(letter);
    outcome.offered = outcome.says.starts_with(kWillBeUpdated);
    if (!outcome.offered) continue;
    // "It will be updated from RV05 to RV0D"
    const std::string revisions = outcome.says.substr(std::strlen(kWillBeUpdated));
    const std::size_t to = revisions.rfind(" to ");
    if (to == std::string::npos) continue;
    const std::string from = revisions.substr(0, to), newRevision = revisions.substr(to + 4);
    outcome.bank = BanksInstalling(package, newRevision);
    if (options.n2oMessage == 1) outcome.upToDate = CompareRevisions(from, newRevision) >= 0;
    if (!update) continue;
    const Run run = RunFlasher(flasher, dir, bay,
                               notice + std::to_string(listed.number.at(letter)) + "\nu\ny\nq\n");
    outcome.ran = true;
    // The flasher asks before updating a drive already up to date: its own word.
    if (options.n2oMessage == 1) {
      outcome.upToDate = run.output.find(kAlreadyUpdated) != std::string::npos;
    }
    ReadTrace(run.trace, letter, outcome);
    outcome.result = UpdateResult(run, letter);
  }
}

std::string YesNo(bool value) {
  return value ? "yes" : "no";
}

void PrintTable(const std::vector<Drive>& drives, const std::vector<Outcome>& outcomes,
                bool updates) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head = {"VENDOR",  "PRODUCT", "REV",       "FOR",
                                   "OFFERED", "BANK",    "UP TO DATE"};
  if (updates) head.insert(head.end(), {"COMMANDS", "PROGRAM", "RESULT"});
  head.push_back("FLASHER SAYS");
  rows.push_back(head);
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const Outcome& o = outcomes[i];
    std::vector<std::string> row = {TrimmedRight(drives[i].vendor),
                                    TrimmedRight(drives[i].product),
                                    drives[i].revision,
                                    drives[i].why,
                                    YesNo(o.offered),
                                    o.bank,
                                    o.upToDate ? YesNo(*o.upToDate) : "-"};
    if (updates) {
      row.insert(row.end(),
                 {o.ran ? std::to_string(o.commands) : "-", o.ran ? o.program : "-", o.result});
    }
    row.push_back(o.says);
    rows.push_back(row);
  }
  std::vector<std::size_t> widths(head.size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string text;
    for (std::size_t c = 0; c < row.size(); ++c) {
      text += row[c];
      if (c + 1 < row.size()) text += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    std::puts(TrimmedRight(text).c_str());
  }
}

void PrintJson(const std::vector<Drive>& drives, const std::vector<Outcome>& outcomes,
               const std::vector<std::optional<bool>>& expected, bool met) {
  Json json = {{"drives", Json::array()}};
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const Outcome& o = outcomes[i];
    Json drive = {{"vendor", TrimmedRight(drives[i].vendor)},
                  {"product", TrimmedRight(drives[i].product)},
                  {"revision", drives[i].revision},
                  {"for", drives[i].why},
                  {"offered", o.offered},
                  {"bank", o.bank == "-" ? Json() : Json(o.bank)},
                  {"up_to_date", o.upToDate ? Json(*o.upToDate) : Json()},
                  {"flasher_says", o.says}};
    drive["update"] =
        o.ran ? Json{{"commands", o.commands}, {"program", o.program}, {"result", o.result}}
              : Json();
    drive["expected_offered"] = expected[i] ? Json(*expected[i]) : Json();
    json["drives"].push_back(drive);
  }
  json["expectations_met"] = met;
  std::fputs((json.dump(2, ' ', true, Json::error_handler_t::replace) + "\n").c_str(), stdout);
}

// The simulated terminal flasher beside this program (in a build tree; /proc/self/exe is a link to
// the running executable, proc(5), whatever name started it), or else where it is installed.
std::string FindFlasher() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path beside = self.parent_path() / "movrel-console-sim";
  if (!error && fs::exists(beside, error)) return beside.string();
  return MOVREL_SIM_FLASHER;
}

}  // namespace

int Rehearse(const RehearseRequest& request, const RepackInto& repack) {
  const std::string flasher = request.flasherPath.empty() ? FindFlasher() : request.flasherPath;
  if (!fs::exists(flasher)) {
    throw Refusal("no simulated flasher '" + flasher + "'; give --flasher PATH");
  }
  const std::vector<unsigned char> file = ReadWholeFile(request.executablePath, kExecutableLimit);
  const package::PackageView package = LocatePackage(file);
  const std::vector<Drive> drives = PlanBay(package, request);

  WorkDirectory work;
  const std::string copy = (work.path / "movrel-console-sim").string();
  repack(request.executablePath, flasher, copy);
  std::vector<Outcome> outcomes(drives.size());
  for (Outcome& outcome : outcomes) outcome.bank = "-";
  for (std::size_t first = 0; first < drives.size(); first += kDrivesPerRun) {
    RunTurn(copy, work.path, package, drives, first, std::min(kDrivesPerRun, drives.size() - first),
            request.update, outcomes);
  }

  // Each drive named by --expect-offered is offered, every other one is not.
  bool met = true;
  std::vector<std::optional<bool>> expected(drives.size());
  if (!request.expectOffered.empty()) {
    for (std::size_t i = 0; i < drives.size(); ++i) {
      expected[i] = std::any_of(request.expectOffered.begin(), request.expectOffered.end(),
                                [&](const DriveArg& arg) { return SameDrive(drives[i], arg); });
      if (*expected[i] == outcomes[i].offered) continue;
      met = false;
      std::fprintf(
          stderr, "movrel-pack: %s %s %s is %s\n", TrimmedRight(drives[i].vendor).c_str(),
          TrimmedRight(drives[i].product).c_str(), drives[i].revision.c_str(),
          outcomes[i].offered ? "offered, not expected to be" : "not offered, expected to be");
    }
  }
  const bool updates =
      std::any_of(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.ran; }) ||
      request.update;
  if (request.json) {
    PrintJson(drives, outcomes, expected, met);
  } else {
    PrintTable(drives, outcomes, updates);
  }
  return met ? 0 : 1;
}

}  // namespace movrel::pack
