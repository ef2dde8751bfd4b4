#include "Command.h"

#include <fmt/format.h>
#include <unistd.h>
#include <utf8cpp/utf8.h>

#include <iostream>

#include "model/Phone.h"
#include "text/Print.h"

namespace zusms::cli {

void AddDeleteCommand(Commands& c, CLI::App* parent, const std::string& noun,
                      int32_t (*remove)(SmsDatabase*, uint32_t),
                      std::function<bool(Store&, uint32_t)> exists) {
  auto* cmd = parent->add_subcommand("delete", "delete a " + noun);
  auto id = std::make_shared<uint32_t>(0);
  cmd->add_option("ID", *id)->required();
  c.On(cmd, [id, noun, remove, exists](Store& s) {
    if (!exists(s, *id)) throw Failure(fmt::format("no {} {}", noun, *id));
    Check(remove(*s, *id), "deleting the " + noun);
    std::cout << fmt::format("deleted {} {}\n", noun, *id);
  });
}

CLI::Validator TimeArgument() {
  return CLI::Validator(
      [](std::string& text) {
        try {
          ParseUserTime(text, true);
          return std::string();
        } catch (const Failure& e) {
          return std::string(e.what());
        }
      },
      "DATE");
}

CLI::Validator NumberArgument() {
  return CLI::Validator(
      [](std::string& text) {
        if (!utf8::is_valid(text.begin(), text.end())) return std::string("not valid UTF-8");
        for (auto it = text.begin(); it != text.end();) {
          if (Unprintable(utf8::next(it, text.end()))) {
            return std::string("a number cannot hold control characters");
          }
        }
        return std::string();
      },
      "NUMBER");
}

CLI::Validator RegionArgument() {
  return CLI::Validator(
      [](std::string& region) {
        return KnownRegion(region) ? std::string()
                                   : "unknown region \"" + region +
                                         "\" (a two-letter country code such as CN or DE)";
      },
      "REGION");
}

void ConfirmOrFail(const std::string& summary, bool yes, const std::string& verb) {
  if (yes) return;
  if (!isatty(STDIN_FILENO)) {
    throw Failure(fmt::format("would {} {}; add --yes to {} them", verb, summary, verb));
  }
  std::cerr << verb << " " << summary << "? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer != "y" && answer != "Y" && answer != "yes") throw Failure("nothing changed");
}

void PrintAdded(const Options& o, const std::string& noun, uint32_t id) {
  if (o.json) {
    std::cout << Json({{"id", id}}).dump() << "\n";
  } else {
    std::cout << fmt::format("added {} {}\n", noun, id);
  }
}

}  // namespace zusms::cli
