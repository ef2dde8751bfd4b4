// folders, folder add, folder rename, folder delete.
#include <fmt/format.h>

#include <iostream>

#include "Command.h"
#include "model/Folders.h"

namespace zusms::cli {

namespace {

SmsFolder GetFolder(Store& s, uint32_t id) {
  SmsFolder f{};
  if (GetZuSmsFolder(*s, id, &f) != 0) {
    throw Failure(fmt::format("no folder with id {} (zusms folders lists them)", id));
  }
  return f;
}

// Names the folder, unless another folder of the user has that stored name
// already (compared exactly: "Work" and "work" are two names).
void SetName(Store& s, SmsFolder& f, const std::string& name) {
  SetTextOrFail(f.fname, NotBlank(name, "a folder needs a name"), "name");
  for (const SmsFolder& other : s.Folders()) {
    if (other.id != f.id && Utf8(other.fname) == Utf8(f.fname)) {
      throw Failure(fmt::format("folder {} is named \"{}\" already", other.FdId, name));
    }
  }
}

}  // namespace

void ShowFolders(Store& store, const Options& o) {
  const auto folders = store.Folders();
  if (o.json) {
    Json out = Json::array();
    for (const SmsFolder& f : folders) {
      Json j = ToJson(kFolders, &f);
      j["id"] = f.id;
      j["role"] = RoleName(f);
      j["messages"] = CountMessagesInFolder(store, f.FdId);
      out.push_back(std::move(j));
    }
    PrintJson(out);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const SmsFolder& f : folders) {
    rows.push_back({std::to_string(f.FdId), OneLine(Utf8(f.fname)), RoleName(f),
                    Word(f.system ? "default" : "user"),
                    std::to_string(CountMessagesInFolder(store, f.FdId)), std::to_string(f.id)});
  }
  PrintTable({"NUMBER", "NAME", "ROLE", "KIND", "MESSAGES", "ID"}, rows);
}

void AddFolderCommands(Commands& c) {
  c.On(c.app().add_subcommand("folders", "list the folders with their message counts"),
       [&c](Store& s) { ShowFolders(s, c.options()); });
  auto name = std::make_shared<std::string>();
  auto id = std::make_shared<uint32_t>(0);
  auto* folder = c.app().add_subcommand("folder", "add, rename or delete a folder");
  folder->require_subcommand(1);
  AddAddCommand<SmsFolder>(c, folder, "folder", AddZuSmsFolder,
                           [name](Store& s, SmsFolder& f) { SetName(s, f, *name); })
      ->add_option("NAME", *name)
      ->required();

  auto* rename = folder->add_subcommand("rename", "rename a folder");
  rename->add_option("ID", *id)->required();
  rename->add_option("NAME", *name)->required();
  c.On(rename, [id, name](Store& s) {
    SmsFolder f = GetFolder(s, *id);
    // Other programs find the default folders by their stored names.
    NotBlank(*name, "a folder needs a name");
    if (f.system) throw Failure("default folders cannot be renamed");
    SetName(s, f, *name);
    Check(UpdateZuSmsFolder(*s, &f), "renaming the folder");
    std::cout << fmt::format("renamed folder {}\n", *id);
  });

  AddDeleteCommand(c, folder, "folder", DeleteZuSmsFolder, [](Store& s, uint32_t folder_id) {
    if (GetFolder(s, folder_id).system) throw Failure("default folders cannot be deleted");
    return true;
  });
}

}  // namespace zusms::cli
