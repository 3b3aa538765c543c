#include <gtest/gtest.h>

#include "SyncTestKit.h"

// A conflict in one field with other fields changed on one side each: only
// the conflict is asked about, the question shows both versions with the
// one-sided changes merged, and whichever way it is settled they are kept.
TEST(OneSidedChanges, KeptWhateverTheChoice) {
  struct {
    EConflictRule Answer;
    const char* Book;
    const char* Server;
  } const Cases[] = {
      {EConflictRule::PreferLocal, "Able Ann h=10 m=70 n=Likes tea/Has a dog",
       "Able Ann h=10 m=70 n=Likes tea/Has a dog"},
      {EConflictRule::PreferServer, "Able Ann h=20 m=70 n=Likes tea/Has a dog",
       "Able Ann h=20 m=70 n=Likes tea/Has a dog"},
      // Each side's version whole, one beside the other.
      {EConflictRule::KeepBoth, "Able Ann h=10 m=70 n=Likes tea; Able Ann h=20 n=Likes tea/Has a dog",
       "Able Ann h=10 m=70 n=Likes tea; Able Ann h=20 n=Likes tea/Has a dog"},
  };
  for (bool AsFunction : {false, true})
    for (const auto& Case : Cases) {
      SCOPED_TRACE(int(Case.Answer) + (AsFunction ? 10 : 0));
      TAddressBook Book;
      TSyncState State;
      TFakeServer Server;
      TSyncOptions Options = TestOptions(EConflictRule::Ask);
      std::vector<std::string> Asked;
      TConflictRule Rule = [&](const TConflictQuestion& Q) {
        auto Names = [](const std::vector<int>& Fields) {
          std::string Out;
          for (int F : Fields) Out += std::string(Out.empty() ? "" : ",") + SyncFields::FieldName(F);
          return Out;
        };
        Asked.push_back(Names(Q.Fields) + " | here " + Names(Q.FromHere) + " | there " + Names(Q.FromServer) + " | " +
                        Short(Q.Local) + " | " + Short(Q.Server));
        return Case.Answer;
      };
      // The rule given to the engine as a function, or asked through the Ask rule.
      if (AsFunction) Options.Rule = EConflictRule::PreferLocal, Options.Settle = Rule;
      else Options.Ask = Rule;
      AddTo(Book, Person({"Able", "Ann", "1", "", "", "", "", "", "", "Likes tea"}));
      RunSync(Book, State, Server, Options);
      EntryNamed(Book, "Able")->HomeTelephone = "10";
      EntryNamed(Book, "Able")->BusMobile = "70";
      Server.Edit(Server.HrefOf("Able"), [](TAddressItem& I) {
        I.HomeTelephone = "20";
        I.Notes.SetText("Likes tea\nHas a dog");
      });
      TRunResult R = RunSync(Book, State, Server, Options);
      EXPECT_EQ(R.Summary.Conflicts, 1);
      ASSERT_EQ(Asked.size(), 1u);
      EXPECT_EQ(Asked[0],
                "home telephone | here mobile | there notes | Able Ann h=10 m=70 n=Likes tea/Has a dog | "
                "Able Ann h=20 m=70 n=Likes tea/Has a dog");
      EXPECT_EQ(BookText(Book), Case.Book);
      EXPECT_EQ(Server.Text(), Case.Server);
      TRunResult Again = RunSync(Book, State, Server, Options);
      EXPECT_EQ(Again.Puts + Again.Deletes, 0u);
      EXPECT_EQ(BookText(Book), Case.Book);
    }
}
