// zusms changes: what changed since a token, for scripts that synchronise.
#ifndef ZUSMS_CLI_CHANGES_H_
#define ZUSMS_CLI_CHANGES_H_

#include <CLI/CLI.hpp>
#include <functional>

#include "Store.h"

namespace zusms::cli {

// The token cannot be served: the partner must fall back to a full listing
// once (the tool then exits with status 3).
struct ResyncNeeded : Failure {
  using Failure::Failure;
};

// Adds the `changes` subcommand; `on` registers what it does with the store,
// `json` is the tool's --json flag.
void AddChangesCommand(CLI::App& app, const bool& json,
                       const std::function<void(CLI::App*, std::function<void(Store&)>)>& on);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_CHANGES_H_
