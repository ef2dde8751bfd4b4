// filters, filter add, filter delete.
#include <optional>

#include "Command.h"
#include "model/Folders.h"

namespace zusms::cli {

void AddFilterCommands(Commands& c) {
  AddListCommand<SmsFilter>(c, "filters", "list the filter rules", kFilters, GetZuSmsFilterCount,
                            GetAllZuSmsFilter, {"ID", "NUMBER", "NAME", "FOLDER", "TYPE", "ATTR"},
                            [](const SmsFilter& f, const Options&) -> std::vector<std::string> {
                              return {std::to_string(f.id),    Utf8(f.tel),
                                      OneLine(Utf8(f.name)),   std::to_string(f.folderid),
                                      std::to_string(f.ftype), std::to_string(f.fattr)};
                            });
  struct Rule {
    std::optional<std::string> number, name;  // at least one of them
    std::string folder;
    int16_t type = 0, attr = 0;
  };
  auto rule = std::make_shared<Rule>();
  auto* filter = c.app().add_subcommand("filter", "add or delete a filter rule");
  filter->require_subcommand(1);
  auto* add =
      AddAddCommand<SmsFilter>(c, filter, "filter", AddZuSmsFilter, [rule](Store& s, SmsFilter& f) {
        f.folderid = FindFolder(s, rule->folder).FdId;
        if (!rule->number && !rule->name) throw Failure("a filter rule needs a number or a name");
        if (rule->number) {
          SetTextOrFail(f.tel, NotBlank(*rule->number, "a filter's number cannot be blank"),
                        "number");
        }
        if (rule->name) {
          SetTextOrFail(f.name, NotBlank(*rule->name, "a filter's name cannot be blank"), "name");
        }
        f.ftype = rule->type;
        f.fattr = rule->attr;
      });
  add->add_option("--number", rule->number, "telephone number")->check(NumberArgument());
  add->add_option("--name", rule->name, "contact name");
  add->add_option("--folder", rule->folder, kFolderHelp)->required();
  add->add_option("--type", rule->type, "rule type");
  add->add_option("--attr", rule->attr, "rule attribute");
  AddDeleteCommand(c, filter, "filter", DeleteZuSmsFilter, Exists<SmsFilter>(GetZuSmsFilter));
}

}  // namespace zusms::cli
