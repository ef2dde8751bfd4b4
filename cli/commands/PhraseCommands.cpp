// phrases, phrase add, phrase delete.
#include "Command.h"

namespace zusms::cli {

void AddPhraseCommands(Commands& c) {
  AddListCommand<SmsPhrase>(c, "phrases", "list the phrases", kPhrases, GetZuSmsPhraseCount,
                            GetAllZuSmsPhrase, {"ID", "PHRASE"},
                            [](const SmsPhrase& p, const Options&) -> std::vector<std::string> {
                              return {std::to_string(p.id), OneLine(Utf8(p.content))};
                            });
  auto text = std::make_shared<std::string>();
  auto* phrase = c.app().add_subcommand("phrase", "add or delete a phrase");
  phrase->require_subcommand(1);
  AddAddCommand<SmsPhrase>(c, phrase, "phrase", AddZuSmsPhrase,
                           [text](Store&, SmsPhrase& p) {
                             SetTextOrFail(p.content, NotBlank(*text, "a phrase needs some text"),
                                           "phrase");
                           })
      ->add_option("TEXT", *text)
      ->required();
  AddDeleteCommand(c, phrase, "phrase", DeleteZuSmsPhrase, Exists<SmsPhrase>(GetZuSmsPhrase));
}

}  // namespace zusms::cli
