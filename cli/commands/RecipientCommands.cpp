// history, recipient add, recipient delete: the recipient history.
#include <ctime>
#include <optional>

#include "Command.h"

namespace zusms::cli {

void AddRecipientCommands(Commands& c) {
  AddListCommand<SmsRecieverHistory>(
      c, "history", "list the recipient history", kReceiverHistory, GetZuSmsReceiverHistoryCount,
      GetAllZuSmsReceiverHistory, {"ID", "NUMBER", "NAME", "LAST"},
      [](const SmsRecieverHistory& r, const Options&) -> std::vector<std::string> {
        return {std::to_string(r.id), Utf8(r.tel), OneLine(Utf8(r.name)), Utf8(r.lastdate)};
      });
  struct Recipient {
    std::string number;
    std::optional<std::string> name;
  };
  auto recipient = std::make_shared<Recipient>();
  auto* history = c.app().add_subcommand("recipient", "add or delete a recipient history entry");
  history->require_subcommand(1);
  auto* add = AddAddCommand<SmsRecieverHistory>(
      c, history, "entry", AddZuSmsReceiverHistory, [recipient](Store&, SmsRecieverHistory& r) {
        SetTextOrFail(r.tel, NotBlank(recipient->number, "an entry needs a number"), "number");
        if (recipient->name) {
          SetTextOrFail(r.name,
                        NotBlank(*recipient->name, "a name cannot be blank (leave --name out)"),
                        "name");
        }
        SetText(r.lastdate, TimeText(std::time(nullptr)).substr(0, 8));
      });
  add->add_option("--number", recipient->number)->check(NumberArgument())->required();
  add->add_option("--name", recipient->name);
  AddDeleteCommand(c, history, "entry", DeleteZuSmsReceiverHistory,
                   Exists<SmsRecieverHistory>(GetZuSmsReceiverHistory));
}

}  // namespace zusms::cli
