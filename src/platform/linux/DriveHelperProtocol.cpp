#include "platform/linux/DriveHelperProtocol.h"

#include <algorithm>

namespace movrel::platform::drivehelper {

namespace {

// Takes fields off the front of a body; once one is missing every later read fails too.
class Fields {
 public:
  explicit Fields(std::span<const std::uint8_t> body) : rest(body) {}

  bool Bytes(std::size_t count, std::span<const std::uint8_t>& bytes) {
    if (!good || rest.size() < count) return good = false;
    bytes = rest.first(count);
    rest = rest.subspan(count);
    return true;
  }
  template <typename Integer>
  bool Number(Integer& value) {
    std::span<const std::uint8_t> bytes;
    if (!Bytes(sizeof(Integer), bytes)) return false;
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < sizeof(Integer); ++i) word |= std::uint32_t{bytes[i]} << (8 * i);
    value = static_cast<Integer>(word);
    return true;
  }
  bool AtEnd() const { return good && rest.empty(); }

 private:
  std::span<const std::uint8_t> rest;
  bool good = true;
};

template <typename Integer>
void Put(std::vector<std::uint8_t>& out, Integer value) {
  const auto word = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < sizeof(Integer); ++i) {
    out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  }
}

void PutBytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// The length prefix in front of the body that `write` appends.
template <typename Write>
void Framed(std::vector<std::uint8_t>& out, Write write) {
  const std::size_t at = out.size();
  Put<std::uint32_t>(out, 0);
  write();
  const auto length = static_cast<std::uint32_t>(out.size() - at - kLengthBytes);
  for (std::size_t i = 0; i < kLengthBytes; ++i) {
    out[at + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
}

bool ReadSgIo(Fields& fields, Request& request) {
  std::uint8_t direction = 0;
  std::span<const std::uint8_t> command;
  if (!fields.Number(request.handle) || !fields.Number(direction) ||
      !fields.Number(request.commandLength) || !fields.Bytes(kLongestCommand, command) ||
      !fields.Number(request.timeoutMilliseconds) || !fields.Number(request.dataLength)) {
    return false;
  }
  if (direction > static_cast<std::uint8_t>(Direction::FromDevice) || request.commandLength == 0 ||
      request.commandLength > kLongestCommand ||
      std::any_of(command.begin() + request.commandLength, command.end(),
                  [](std::uint8_t byte) { return byte != 0; }) ||
      request.timeoutMilliseconds == 0 || request.timeoutMilliseconds > kLongestTimeout ||
      request.dataLength > kLongestData) {
    return false;
  }
  request.direction = static_cast<Direction>(direction);
  if ((request.direction == Direction::None) != (request.dataLength == 0)) return false;
  std::copy(command.begin(), command.end(), request.command.begin());
  if (request.direction != Direction::ToDevice) return true;
  std::span<const std::uint8_t> data;
  if (!fields.Bytes(request.dataLength, data)) return false;
  request.data.assign(data.begin(), data.end());
  return true;
}

bool ReadSgIoReply(Fields& fields, Reply& reply) {
  std::uint8_t senseLength = 0;
  std::uint32_t dataLength = 0;
  std::span<const std::uint8_t> sense, data;
  if (!fields.Number(reply.status) || !fields.Number(reply.hostStatus) ||
      !fields.Number(reply.driverStatus) || !fields.Number(reply.residue) ||
      !fields.Number(senseLength) || senseLength > kLongestSense ||
      !fields.Bytes(senseLength, sense) || !fields.Number(dataLength) ||
      dataLength > kLongestData || !fields.Bytes(dataLength, data)) {
    return false;
  }
  reply.sense.assign(sense.begin(), sense.end());
  reply.data.assign(data.begin(), data.end());
  return true;
}

bool ReadDrives(Fields& fields, Reply& reply) {
  std::uint8_t count = 0;
  if (!fields.Number(count) || count > kMostDrives) return false;
  for (std::uint8_t i = 0; i < count; ++i) {
    DriveEntry entry;
    if (!fields.Number(entry.drive) || !fields.Number(entry.host) ||
        !fields.Number(entry.channel) || !fields.Number(entry.id) || !fields.Number(entry.lun)) {
      return false;
    }
    reply.drives.push_back(entry);
  }
  return true;
}

bool KnownKind(std::uint8_t kind) {
  return kind >= static_cast<std::uint8_t>(Kind::List) &&
         kind <= static_cast<std::uint8_t>(Kind::Lock);
}

}  // namespace

std::optional<std::uint32_t> BodyLength(std::span<const std::uint8_t, kLengthBytes> prefix,
                                        std::uint32_t longest) {
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < kLengthBytes; ++i) length |= std::uint32_t{prefix[i]} << (8 * i);
  if (length == 0 || length > longest) return std::nullopt;
  return length;
}

std::optional<Request> ReadRequest(std::span<const std::uint8_t> body) {
  if (body.size() > kLongestRequest) return std::nullopt;
  Fields fields(body);
  std::uint8_t kind = 0;
  Request request;
  if (!fields.Number(request.tag) || !fields.Number(kind) || !KnownKind(kind)) {
    return std::nullopt;
  }
  request.kind = static_cast<Kind>(kind);
  bool read = true;
  switch (request.kind) {
    case Kind::List:
      break;
    case Kind::Open: {
      std::uint8_t exclusive = 2;
      read = fields.Number(request.drive) && fields.Number(exclusive) && exclusive <= 1;
      request.exclusive = exclusive == 1;
      break;
    }
    case Kind::Lock:
      read = fields.Number(request.drive);
      break;
    case Kind::Close:
      read = fields.Number(request.handle);
      break;
    case Kind::SgIo:
      read = ReadSgIo(fields, request);
      break;
  }
  if (!read || !fields.AtEnd()) return std::nullopt;
  return request;
}

std::optional<Reply> ReadReply(std::span<const std::uint8_t> body) {
  if (body.size() > kLongestReply) return std::nullopt;
  Fields fields(body);
  std::uint8_t kind = 0;
  Reply reply;
  if (!fields.Number(reply.tag) || !fields.Number(kind) || !KnownKind(kind) ||
      !fields.Number(reply.error)) {
    return std::nullopt;
  }
  reply.kind = static_cast<Kind>(kind);
  bool read = true;
  if (reply.error == 0 && reply.kind == Kind::List) read = ReadDrives(fields, reply);
  if (reply.error == 0 && reply.kind == Kind::SgIo) read = ReadSgIoReply(fields, reply);
  if (reply.error == 0 && (reply.kind == Kind::Open || reply.kind == Kind::Lock)) {
    read = fields.Number(reply.handle) && reply.handle >= 1 && reply.handle <= kMostHandles;
  }
  if (!read || !fields.AtEnd()) return std::nullopt;
  return reply;
}

void WriteRequest(const Request& request, std::vector<std::uint8_t>& out) {
  Framed(out, [&] {
    Put(out, request.tag);
    Put(out, static_cast<std::uint8_t>(request.kind));
    switch (request.kind) {
      case Kind::List:
        return;
      case Kind::Open:
        Put(out, request.drive);
        Put(out, static_cast<std::uint8_t>(request.exclusive));
        return;
      case Kind::Lock:
        Put(out, request.drive);
        return;
      case Kind::Close:
        Put(out, request.handle);
        return;
      case Kind::SgIo:
        break;
    }
    Put(out, request.handle);
    Put(out, static_cast<std::uint8_t>(request.direction));
    Put(out, request.commandLength);
    PutBytes(out, request.command);
    Put(out, request.timeoutMilliseconds);
    Put(out, request.dataLength);
    PutBytes(out, request.data);
  });
}

void WriteReply(const Reply& reply, std::vector<std::uint8_t>& out) {
  Framed(out, [&] {
    Put(out, reply.tag);
    Put(out, static_cast<std::uint8_t>(reply.kind));
    Put(out, reply.error);
    if (reply.error != 0) return;
    if (reply.kind == Kind::List) {
      Put(out, static_cast<std::uint8_t>(reply.drives.size()));
      for (const DriveEntry& entry : reply.drives) {
        for (const std::uint8_t byte :
             {entry.drive, entry.host, entry.channel, entry.id, entry.lun}) {
          Put(out, byte);
        }
      }
    } else if (reply.kind == Kind::SgIo) {
      Put(out, reply.status);
      Put(out, reply.hostStatus);
      Put(out, reply.driverStatus);
      Put(out, reply.residue);
      Put(out, static_cast<std::uint8_t>(reply.sense.size()));
      PutBytes(out, reply.sense);
      Put(out, static_cast<std::uint32_t>(reply.data.size()));
      PutBytes(out, reply.data);
    } else if (reply.kind == Kind::Open || reply.kind == Kind::Lock) {
      Put(out, reply.handle);
    }
  });
}

}  // namespace movrel::platform::drivehelper
