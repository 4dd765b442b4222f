#include "sim/Bay.h"

#include <cctype>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

namespace movrel::sim {

namespace {

using Json = nlohmann::json;

// Data phases of the drive's commands carry 24-bit lengths.
constexpr int kLastDataByte = 0xFFFFFF - 1;

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw BayError(where + ": " + problem);
}

// "03 0C 00" -> {0x03, 0x0C, 0x00}: tokens of one or two hex digits; none when malformed.
std::optional<std::vector<std::uint8_t>> HexBytes(const std::string& text) {
  std::istringstream tokens(text);
  std::vector<std::uint8_t> bytes;
  for (std::string token; tokens >> token;) {
    if (token.size() > 2) return std::nullopt;
    for (char digit : token) {
      if (!std::isxdigit(static_cast<unsigned char>(digit))) return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

// "D:\"
bool IsDriveRoot(const std::string& text) {
  return text.size() == 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         text[2] == '\\';
}

// One object of the description: typed reads with the defaults of the structs, and no names
// the reader does not know.
class Object {
 public:
  Object(const Json& json, std::string path, std::initializer_list<const char*> known)
      : json(json), path(std::move(path)) {
    if (!json.is_object()) Fail(this->path.empty() ? "bay" : this->path, "expected an object");
    const std::set<std::string> names(known.begin(), known.end());
    for (const auto& item : json.items()) {
      if (names.count(item.key()) == 0) Fail(Where(item.key()), "unknown field");
    }
  }

  std::string Where(const std::string& key) const { return path.empty() ? key : path + "." + key; }
  const Json* Find(const char* key) const {
    const auto found = json.find(key);
    return found == json.end() || found->is_null() ? nullptr : &*found;
  }

  bool Bool(const char* key, bool fallback) const {
    const Json* value = Find(key);
    if (value == nullptr) return fallback;
    if (!value->is_boolean()) Fail(Where(key), "expected true or false");
    return value->get<bool>();
  }

  int Integer(const char* key, int min, int max, int fallback) const {
    const Json* value = Find(key);
    if (value == nullptr) return fallback;
    if (!value->is_number_integer() || value->get<long long>() < min ||
        value->get<long long>() > max) {
      Fail(Where(key),
           "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return value->get<int>();
  }

  double Seconds(const char* key, double fallback) const {
    const Json* value = Find(key);
    if (value == nullptr) return fallback;
    if (!value->is_number() || value->get<double>() < 0) {
      Fail(Where(key), "expected a number of seconds, 0 or more");
    }
    return value->get<double>();
  }

  std::optional<std::string> Text(const char* key) const {
    const Json* value = Find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) Fail(Where(key), "expected a text");
    return value->get<std::string>();
  }

  std::string Text(const char* key, const std::string& fallback, std::size_t maxLength) const {
    const std::string text = Text(key).value_or(fallback);
    if (text.size() > maxLength) {
      Fail(Where(key), "longer than " + std::to_string(maxLength) + " characters");
    }
    return text;
  }

  template <class T>
  T Choice(const char* key, std::initializer_list<std::pair<const char*, T>> choices,
           T fallback) const {
    const std::optional<std::string> text = Text(key);
    if (!text) return fallback;
    std::string names;
    for (const auto& [name, value] : choices) {
      if (*text == name) return value;
      names += (names.empty() ? "\"" : ", \"") + std::string(name) + "\"";
    }
    Fail(Where(key), "expected one of " + names);
  }

  template <std::size_t N>
  std::optional<std::array<std::uint8_t, N>> Bytes(const char* key, const char* expected) const {
    const std::optional<std::string> text = Text(key);
    if (!text) return std::nullopt;
    const auto bytes = HexBytes(*text);
    if (!bytes || bytes->size() != N) Fail(Where(key), expected);
    std::array<std::uint8_t, N> result{};
    std::copy(bytes->begin(), bytes->end(), result.begin());
    return result;
  }

  const Json* Array(const char* key) const {
    const Json* value = Find(key);
    if (value != nullptr && !value->is_array()) Fail(Where(key), "expected an array");
    return value;
  }

 private:
  const Json& json;
  std::string path;
};

Fault ReadFault(const Json& json, const std::string& path) {
  const Object object(
      json, path,
      {"command", "control", "occurrence", "kind", "sense", "byte", "length", "residue"});
  Fault fault;
  fault.command = object.Bytes<1>("command", "expected one hex byte")
                      .value_or(std::array<std::uint8_t, 1>{fault.command})[0];
  if (const auto control = object.Bytes<1>("control", "expected one hex byte")) {
    fault.control = (*control)[0];
  }
  fault.occurrence = object.Integer("occurrence", 0, 1'000'000, fault.occurrence);
  fault.kind = object.Choice<FaultKind>("kind",
                                        {{"fail", FaultKind::Fail},
                                         {"sense", FaultKind::Sense},
                                         {"descriptor_sense", FaultKind::DescriptorSense},
                                         {"corrupt", FaultKind::Corrupt},
                                         {"short", FaultKind::Short},
                                         {"timeout", FaultKind::Timeout},
                                         {"vanish", FaultKind::Vanish}},
                                        fault.kind);
  if (const auto sense = object.Bytes<3>("sense", "expected three hex bytes")) {
    fault.sense = *sense;
  } else if (fault.kind == FaultKind::Sense || fault.kind == FaultKind::DescriptorSense) {
    Fail(object.Where("sense"),
         "needed for a fault of kind \"" + object.Text("kind").value() + "\"");
  }
  if (object.Find("byte") != nullptr) {
    fault.byte = static_cast<std::uint32_t>(object.Integer("byte", 0, kLastDataByte, 0));
  }
  fault.length = static_cast<std::uint32_t>(object.Integer("length", 0, kLastDataByte + 1, 0));
  fault.residue = object.Bool("residue", fault.residue);
  return fault;
}

DriveConfig ReadDrive(const Json& json, const std::string& path, std::size_t index) {
  const Object object(json, path,
                      {"name", "root", "address", "address_query", "aspi", "vendor", "product",
                       "revision", "flash_id", "medium", "tray_open", "tray_motor", "eject_locked",
                       "event_status", "not_ready_seconds", "unit_attention", "faults"});
  DriveConfig drive;
  drive.root = object.Text("root");
  if (drive.root && !IsDriveRoot(*drive.root)) {
    Fail(object.Where("root"), "expected a drive root such as \"D:\\\"");
  }
  // Unnamed drives take their root's letter, or their place in the list.
  const std::string defaultName =
      drive.root ? drive.root->substr(0, 1) : "drive" + std::to_string(index);
  drive.name = object.Text("name").value_or(defaultName);
  if (drive.name.empty() || drive.name.find_first_of(" \t\r\n") != std::string::npos) {
    Fail(object.Where("name"), "expected a name without blanks");
  }
  if (const Json* address = object.Find("address")) {
    const bool fits = address->is_array() && address->size() == 4;
    for (std::size_t part = 0; fits && part < 4; ++part) {
      const Json& number = (*address)[part];
      if (!number.is_number_integer() || number.get<long long>() < 0 ||
          number.get<long long>() > 255) {
        Fail(object.Where("address"), "expected four numbers from 0 to 255");
      }
      drive.address[part] = number.get<int>();
    }
    if (!fits) Fail(object.Where("address"), "expected four numbers from 0 to 255");
  }
  drive.addressQuery = object.Choice<AddressQuery>("address_query",
                                                   {{"ok", AddressQuery::Ok},
                                                    {"refused", AddressQuery::Refused},
                                                    {"empty", AddressQuery::Empty},
                                                    {"unopenable", AddressQuery::Unopenable}},
                                                   drive.addressQuery);
  drive.aspi = object.Bool("aspi", drive.aspi);
  drive.vendor = object.Text("vendor", drive.vendor, 8);
  drive.product = object.Text("product", drive.product, 16);
  drive.revision = object.Text("revision", drive.revision, 4);
  drive.flashId = object.Bytes<4>("flash_id", "expected four hex bytes").value_or(drive.flashId);
  drive.medium = object.Bool("medium", drive.medium);
  drive.trayOpen = object.Bool("tray_open", drive.trayOpen);
  drive.trayMotor = object.Bool("tray_motor", drive.trayMotor);
  drive.ejectLocked = object.Bool("eject_locked", drive.ejectLocked);
  drive.eventStatus = object.Bool("event_status", drive.eventStatus);
  drive.notReadySeconds = object.Seconds("not_ready_seconds", drive.notReadySeconds);
  drive.unitAttention = object.Integer("unit_attention", 0, 1'000'000, drive.unitAttention);
  if (const Json* faults = object.Array("faults")) {
    for (std::size_t i = 0; i < faults->size(); ++i) {
      drive.faults.push_back(
          ReadFault((*faults)[i], object.Where("faults") + "[" + std::to_string(i) + "]"));
    }
  }
  return drive;
}

RootConfig ReadRoot(const Json& json, const std::string& path) {
  const Object object(json, path, {"root", "type"});
  RootConfig root;
  root.root = object.Text("root").value_or("");
  if (!IsDriveRoot(root.root)) Fail(object.Where("root"), "expected a drive root such as \"C:\\\"");
  root.driveType = object.Choice<std::uint32_t>(
      "type",
      {{"unknown", 0}, {"removable", 2}, {"fixed", 3}, {"remote", 4}, {"cdrom", 5}, {"ramdisk", 6}},
      root.driveType);
  return root;
}

// Where the parser is in the text, followed through its events: a number beyond the range of a
// double is refused by the parser itself, before any field is read, and still gets its field named.
class ParsePosition {
 public:
  void Follow(Json::parse_event_t event, const Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
      case Json::parse_event_t::array_start:
        Element();
        steps.push_back(Step{event == Json::parse_event_t::array_start, "", -1});
        break;
      case Json::parse_event_t::key:
        steps.back().key = parsed.get<std::string>();
        break;
      case Json::parse_event_t::value:
        Element();
        break;
      case Json::parse_event_t::object_end:
      case Json::parse_event_t::array_end:
        steps.pop_back();
        break;
    }
  }

  // The field of the value being read, e.g. "drives[0].not_ready_seconds".
  std::string Where() const {
    std::string where;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const bool reading = i + 1 == steps.size();  // the value has not been counted yet
      if (steps[i].array) {
        where += "[" + std::to_string(steps[i].index + (reading ? 1 : 0)) + "]";
      } else {
        where += (where.empty() ? "" : ".") + steps[i].key;
      }
    }
    return where.empty() ? "bay" : where;
  }

 private:
  struct Step {
    bool array = false;
    std::string key;  // of the value being read (objects)
    int index = -1;   // of the last value read (arrays)
  };
  void Element() {
    if (!steps.empty() && steps.back().array) ++steps.back().index;
  }
  std::vector<Step> steps;
};

// Every root and every drive name is used once.
void CheckUnique(const BayConfig& bay) {
  std::set<char> letters;
  const auto claim = [&letters](const std::string& root, const std::string& where) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    if (!letters.insert(letter).second) Fail(where, root + " is listed twice");
  };
  for (std::size_t i = 0; i < bay.otherRoots.size(); ++i) {
    claim(bay.otherRoots[i].root, "other_roots[" + std::to_string(i) + "].root");
  }
  std::set<std::string> names;
  for (std::size_t i = 0; i < bay.drives.size(); ++i) {
    const std::string where = "drives[" + std::to_string(i) + "]";
    if (bay.drives[i].root) claim(*bay.drives[i].root, where + ".root");
    if (!names.insert(bay.drives[i].name).second) {
      Fail(where + ".name", bay.drives[i].name + " is used twice");
    }
  }
}

}  // namespace

BayConfig ParseBay(const std::string& jsonText) {
  Json json;
  ParsePosition position;
  try {
    json = Json::parse(jsonText, [&position](int, Json::parse_event_t event, Json& parsed) {
      position.Follow(event, parsed);
      return true;
    });
  } catch (const Json::parse_error& error) {
    throw BayError(std::string("bay: not valid JSON: ") + error.what());
  } catch (const Json::out_of_range&) {
    Fail(position.Where(), "a number out of range");
  }
  const Object object(
      json, "",
      {"family", "aspi", "aspi_status", "host_adapters", "clock", "other_roots", "drives"});
  BayConfig bay;
  bay.family = object.Choice<Family>("family", {{"nt", Family::NT}, {"consumer", Family::Consumer}},
                                     bay.family);
  bay.aspi = object.Bool("aspi", bay.aspi);
  bay.aspiStatus = static_cast<std::uint8_t>(object.Integer("aspi_status", 0, 255, bay.aspiStatus));
  bay.hostAdapters = object.Integer("host_adapters", 0, 255, bay.hostAdapters);
  bay.clock = object.Choice<Clock::Mode>(
      "clock", {{"virtual", Clock::Mode::Virtual}, {"real", Clock::Mode::Real}}, bay.clock);
  if (const Json* roots = object.Array("other_roots")) {
    bay.otherRoots.clear();
    for (std::size_t i = 0; i < roots->size(); ++i) {
      bay.otherRoots.push_back(ReadRoot((*roots)[i], "other_roots[" + std::to_string(i) + "]"));
    }
  }
  if (const Json* drives = object.Array("drives")) {
    for (std::size_t i = 0; i < drives->size(); ++i) {
      bay.drives.push_back(ReadDrive((*drives)[i], "drives[" + std::to_string(i) + "]", i));
    }
  }
  CheckUnique(bay);
  return bay;
}

BayConfig LoadBay(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw BayError(path + ": cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  return ParseBay(text.str());
}

}  // namespace movrel::sim
