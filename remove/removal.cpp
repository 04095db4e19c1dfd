#include "remove/removal.h"

#include <optional>

#include "remove/removal_texts.h"
#include "setup/install_layout.h"
#include "setup/install_texts.h"
#include "setup/service_steps.h"

namespace qardex::remove {

using setup::Format;

namespace {

// A line feed by itself, then the message and, unless it is the last word, a line feed.
void Message(const setup::LineSink& console, const std::string& message, bool lineEnd = true) {
  console("\n");
  console(lineEnd ? message + "\n" : message);
}

}  // namespace

int RunRemoval(setup::ServiceControl& control, const std::string& folder,
               const setup::LineSink& console, const ScriptRunner& runScript) {
  console("\n" + folder);

  setup::ConnectedManager connected = control.Connect();
  if (!connected.manager) {
    Message(console, Format(text::kNoRights, connected.error));
    return -1;
  }
  setup::ServiceManager& manager = *connected.manager;
  const std::string name = setup::kServiceName;

  if (const setup::SystemError error = setup::RequestStop(manager, name)) {
    Message(console, Format(text::kAlreadyRemoved, error));
  }

  setup::OpenedService opened = manager.Open(name, setup::ServiceAccess::kDelete);
  bool deleted = false;
  if (!opened.service) {
    console(Format(setup::text::kOpenFailed, opened.error));
    Message(console, Format(text::kAlreadyRemoved, opened.error));
  } else if (const setup::SystemError error = opened.service->Delete()) {
    console(Format(setup::text::kDeleteFailed, error));
  } else {
    console(setup::text::kDeleted);
    Message(console, text::kRemovedRestart, false);
    deleted = true;
  }
  opened.service.reset();
  // Deleted, it goes once it has stopped and its handles are closed; until then its program is in
  // use, and a package's removal, which comes next, could not delete the file.
  if (deleted) setup::WaitUntilGone(control, manager, name, {});

  // A command that does not fit is never cut; the service part above is done all the same.
  setup::Overflow overflow;
  const std::optional<std::string> command =
      setup::ScriptCommand(folder, setup::kUntrustScript, &overflow);
  if (!command) {
    console("\n");
    console(setup::OverflowLine(overflow));
    console(Format(text::kScriptSkipped, setup::kUntrustScript));
    return -1;
  }
  runScript(*command);
  return 0;
}

}  // namespace qardex::remove
