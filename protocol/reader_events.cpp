#include "protocol/reader_events.h"

#include "protocol/json_text.h"

namespace qardex::service {

namespace {

const char* TypeOf(ipc::ReaderEvent::Kind kind) {
  switch (kind) {
    case ipc::ReaderEvent::Kind::ReaderAdded:
      return "reader-added";
    case ipc::ReaderEvent::Kind::ReaderRemoved:
      return "reader-removed";
    case ipc::ReaderEvent::Kind::CardInserted:
      return "card-inserted";
    case ipc::ReaderEvent::Kind::CardRemoved:
      return "card-removed";
    default:
      return "synced";
  }
}

const char* Bool(bool value) { return value ? "true" : "false"; }

void AppendReader(std::string& out, std::size_t index, const std::u16string& name) {
  out += "\"index\":" + std::to_string(index) + ",\"reader\":";
  AppendJsonString(out, name);
}

std::string StateJson(const ReaderState& state) {
  std::string out = "{\"type\":\"state\",\"readers\":[";
  for (std::size_t i = 0; i < state.readers.size(); ++i) {
    if (i > 0) out += ",";
    out += "{";
    AppendReader(out, i, state.readers[i].name);
    out += ",\"card\":";
    out += Bool(state.readers[i].card);
    out += ",\"hc\":";
    out += Bool(state.readers[i].hc);
    out += "}";
  }
  out += "]}";
  return out;
}

std::string ChangeJson(const ReaderChange& change) {
  std::string out = "{\"type\":\"";
  out += TypeOf(change.kind);
  out += "\",";
  AppendReader(out, change.index, change.reader);
  if (change.kind == ipc::ReaderEvent::Kind::CardInserted) {
    out += ",\"hc\":";
    out += Bool(change.hc);
  }
  out += "}";
  return out;
}

}  // namespace

std::string ReaderEventJson(const ReaderEvent& event) {
  if (const auto* state = std::get_if<ReaderState>(&event)) return StateJson(*state);
  return ChangeJson(std::get<ReaderChange>(event));
}

}  // namespace qardex::service
