// The demo: a realistic store of a few hundred messages, added once.
#ifndef ZUSMS_CLI_MODEL_DEMO_H_
#define ZUSMS_CLI_MODEL_DEMO_H_

#include <ostream>
#include <string>

#include "model/Store.h"

namespace zusms::cli {

// The demo's own database file, so that the demo never fills a person's
// store: demo.dbf beside the default store ($XDG_DATA_HOME/zusms, else
// ~/.local/share/zusms; the folders made as needed, 0700).
std::string DemoStorePath();

class Demo {
 public:
  Demo(Store& store, std::ostream& out) : store_(store), out_(out) {}
  // Adds the demo data unless the store has it already (and says which).
  void Run();

 private:
  bool Seeded();
  void Seed();

  Store& store_;
  std::ostream& out_;
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_DEMO_H_
