// config, config region [REGION]: the settings kept with the user's store.
#include <iostream>

#include "Command.h"
#include "model/Region.h"

namespace zusms::cli {

namespace {

void ShowSettings(Store& s, const Options& o) {
  const std::string region = StoreRegion(s);
  if (o.json) return PrintJson({{"region", region.empty() ? Json() : Json(region)}});
  PrintTable({"SETTING", "VALUE"}, {{"region", region.empty() ? "(not set)" : region}});
}

}  // namespace

void AddConfigCommands(Commands& c) {
  auto* config = c.app().add_subcommand("config", "the settings kept with the store: list them");
  config->require_subcommand(0, 1);
  auto region = std::make_shared<std::string>();
  auto* region_cmd = config->add_subcommand(
      "region",
      "the country of the numbers written without one (CN, DE, ...), which --region overrides: "
      "show it, or set it");
  region_cmd->add_option("REGION", *region, "a two-letter country code")->check(RegionArgument());
  c.On(region_cmd, [&c, region](Store& s) {
    const Options& o = c.options();
    if (!region->empty()) KeepRegion(s, *region);
    const std::string kept = StoreRegion(s);
    if (o.json) return PrintJson({{"region", kept.empty() ? Json() : Json(kept)}});
    if (!kept.empty()) {
      std::cout << kept << "\n";
      return;
    }
    std::cerr << "zusms: the store keeps no region: numbers written without a country code are "
                 "read as the locale says; set one with `zusms config region XX`\n";
  });
  c.On(config, [&c, region_cmd](Store& s) {
    if (!region_cmd->parsed()) ShowSettings(s, c.options());
  });
}

}  // namespace zusms::cli
