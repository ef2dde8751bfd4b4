// zusms: the message store from the command line. Main only wires the
// command line; each noun's commands live in a unit of their own.
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <CLI/CLI.hpp>
#include <clocale>
#include <csignal>
#include <iostream>
#include <sstream>

#include "Command.h"
#include "backup/Interchange.h"
#include "model/Demo.h"

namespace zusms::cli {

int Main(int argc, char** argv) {
  // Past a file-size limit a write fails with EFBIG, which is reported,
  // instead of the signal killing the tool half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  // Tables measure characters with wcwidth, which knows their widths in a
  // UTF-8 locale only: the tool's texts are UTF-8 whatever the user's
  // locale. Only the character classes change; messages and numbers are
  // the C locale's.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  CLI::App app{"zusms: short messages and everything that belongs to them, in one database file"};
  app.require_subcommand(1);
  // The options below are the tool's, valid before or after the subcommand
  // ("zusms list --utc" as "zusms --utc list").
  app.fallthrough();
  app.set_version_flag("--version", std::string("zusms ") + ZUSMS_VERSION);
  Options o;
  app.add_option("--db", o.db,
                 "database file (default: $ZUSMS_DB, else ~/.local/share/zusms/zuSms.dbf)")
      ->check(CLI::Validator(
          [](std::string& path) { return path.empty() ? std::string("the path is empty") : ""; },
          "PATH"));
  app.add_option("--user", o.user, "user id (default 1)");
  app.add_flag("--json", o.json, "listings as JSON");
  app.add_flag("--utc", o.utc, "times in UTC (default: local time)");
  app.add_option("--region", o.region,
                 "country of numbers written without one, as CN or DE (default: the store's, "
                 "zusms config region)")
      ->check(RegionArgument());

  Commands commands(app, o);
  AddStoreCommands(commands);
  AddMessageCommands(commands);
  AddConversationCommands(commands);
  AddAttachmentCommands(commands);
  AddFolderCommands(commands);
  AddFilterCommands(commands);
  AddPhraseCommands(commands);
  AddRecipientCommands(commands);
  AddBackupCommands(commands);
  AddChangeCommands(commands);
  AddConfigCommands(commands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // An error names what was typed, which may hold escape sequences.
    std::ostringstream out, err;
    const int code = app.exit(e, out, err);
    std::cout << out.str();
    if (!err.str().empty()) std::cerr << PrintableLines(err.str());
    return code == 0 ? 0 : 2;
  }
  SetProgressWanted(!o.json && isatty(STDERR_FILENO));
  try {
    if (o.db.empty() && app.got_subcommand("demo")) {
      o.db = DemoStorePath();
      o.demo_store = true;
    }
    struct stat st {};
    if (!o.db.empty() && stat(o.db.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      throw Failure(o.db + ": is a directory, not a database file");
    }
    Store store(o.db, o.user);
    for (const Action& action : commands.chosen()) action(store);
  } catch (const CLI::ParseError& e) {
    std::cerr << "zusms: " << PrintableLines(e.what()) << "\n";
    return 2;
  } catch (const ImportIncomplete&) {
    return kImportIncompleteStatus;  // the summary says what was left out
  } catch (const ResyncNeeded& e) {
    std::cerr << "zusms: " << PrintableLines(e.what()) << "\n";
    return 3;
  } catch (const std::exception& e) {
    std::cerr << "zusms: " << PrintableLines(e.what()) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace zusms::cli

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // A large block (a multimedia part being decoded or read back) is mapped
  // and given back when freed. glibc would otherwise raise this bound to the
  // largest block freed (up to 32 MB) and take later ones from a heap that
  // keeps what it frees: parts of 16 to 32 MB then cost twice their size.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  return zusms::cli::Main(argc, argv);
}
