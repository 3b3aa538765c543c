#pragma once

// Two-way synchronisation of a book with an address book on a server, as pure
// logic: the three-way comparison of the book (the entries in memory), the
// server (its cards' addresses and ETags, and the text of those that changed)
// and the state of the last sync, giving a plan of what to do on each side.
//
// One sync, as a caller drives it:
//   TSyncState State;  State.Load(TSyncState::PathFor(BookPath));
//   TSyncEngine Engine(std::move(State));
//   for (const std::string& Href : Engine.Listing(Listing))   // changes, or every card
//     Engine.AddCard(Href, ETag, Text);                        // the cards asked for
//   TSyncPlan Plan = Engine.Plan(*Book.Items, Options);
//   Plan.MassDelete: stop unless the person confirms; a dry run shows Plan.Actions() and stops.
//   if (Plan.NeedsJournal()) Plan.JournalState().Save(StatePath);   // before any PUT or DELETE
//   each Plan.Puts[i]: PUT (IfMatch empty: If-None-Match: *), then set Result and ETag;
//   each Plan.ServerDeletes[i]: DELETE with If-Match, then set Result (a card already gone is Done);
//   if (Plan.ApplyToBook(Book)) Book.SaveToFile();            // the book first
//   if (Plan.StateChanged()) Plan.FinalState().Save(StatePath);
// A run cut off anywhere leaves book and state as they were or as the
// journal says; the next run finds the cards it sent instead of sending them
// again, and pairs entries with cards as the run that was cut off did. A card
// it sent that is not there yet is sent again under the same UID and address
// even when its entry was edited since (matched by name), so a send still on
// its way cannot make a second card; one found there in an earlier version is
// the base the entry's edits go over. A
// failed operation (a 412 among them) leaves that card as it was for the
// next run.
//
// Identity. The book has no room for a card's UID, so an entry is known by
// what the state remembers of each card: the entry as last synced and its
// fingerprint (of every field but the details page, which alone never makes
// an entry changed).
//   1. An entry whose fingerprint equals a card's is that card's, unchanged;
//      equal entries take cards of that fingerprint in book order. Then an
//      entry a run that was cut off took for a card (the journal's claim) is
//      that card's again, and an entry with the same content (the details
//      page aside) as a new card there is that card's.
//   2. Of the rest, an entry whose surname and first name equal a card's entry
//      as last synced is that card's, edited. Where several entries or cards
//      share the name, the pairs with the most equal fields go first.
//   3. Of the rest, an entry is a card's (renamed and edited) when at least
//      two filled fields, one of them not a name, and at least half of the
//      card's filled fields are equal; most equal fields first.
//   4. An entry left over is new here; a card left over was deleted here.
//   Ties go to the card whose version on the server now has more fields equal.
//   No entry takes two cards, no card two entries.
//
// Merge. Each field changed on one side only takes that side's value; a field
// changed the same way on both is no conflict; the notes merge line by line
// unless both sides rewrote the same line. A field changed differently on
// both sides is a conflict, settled by the rule: keep both (the server's
// version is added here as a second entry and the local one is sent as a new
// card), prefer local, prefer server, or ask. A card deleted on one side and
// changed on the other is kept with its change.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Adrbook.h"
#include "SyncState.h"

enum class EConflictRule { KeepBoth, PreferLocal, PreferServer, Ask };

// What the person is asked when the rule is Ask. Local and Server are the
// two versions with each field changed on one side only merged into both.
struct TConflictQuestion {
  const TAddressItem& Local;
  const TAddressItem& Server;
  std::vector<int> Fields;                // ESyncField values changed differently on both sides
  std::vector<int> FromHere, FromServer;  // fields changed on one side, merged
};

// How a conflict is settled: KeepBoth, PreferLocal or PreferServer for one entry.
using TConflictRule = std::function<EConflictRule(const TConflictQuestion&)>;

struct TSyncOptions {
  EConflictRule Rule = EConflictRule::KeepBoth;
  // For Ask: KeepBoth, PreferLocal or PreferServer for one entry.
  std::function<EConflictRule(const TConflictQuestion&)> Ask;
  // The conflict rule the engine is given; when not set, Rule (with Ask).
  TConflictRule Settle;
  // A fresh UID for a new card; a random UUID when not set.
  std::function<std::string()> NewUid;
  // The REV of a card sent ("20261209T101500Z"); the time now when not set.
  std::function<std::string()> Revision;
  // Where new cards go ("/dav/book/"); the path of the state's address-book
  // URL when empty.
  std::string CollectionHref;
};

struct TServerCard {
  std::string Href;
  std::string ETag;
};

// What the server says: every card (Full, a PROPFIND listing, also after a
// sync token it forgot), or the changes since the state's sync token.
struct TServerListing {
  bool Full = true;
  std::vector<TServerCard> Cards;    // every card, or those changed or new
  std::vector<std::string> Deleted;  // changes only
  std::string SyncToken;             // the token to keep, "" when none
};

enum class EOpResult { Pending, Done, Failed };

// What to send; the texts live as long as the plan.
struct TCardPut {
  std::string_view Href;
  std::string_view Uid;
  std::string_view IfMatch;  // empty: a new card, sent with If-None-Match: *
  std::string_view Text;
  std::string_view Name;  // of the entry, for messages
  EOpResult Result = EOpResult::Pending;
  std::string ETag;  // the server's answer, "" when it gave none
};

struct TCardDelete {
  std::string_view Href;
  std::string_view IfMatch;
  std::string_view Name;
  EOpResult Result = EOpResult::Pending;
};

struct TLocalChange {
  TAddressItem* Entry;
  std::unique_ptr<TAddressItem> Fields;
};

struct TSyncConflict {
  std::string Name;
  std::vector<int> Fields;
  EConflictRule Settled;  // KeepBoth, PreferLocal or PreferServer
};

struct TSyncSummary {
  int Received = 0, Sent = 0, DeletedHere = 0, DeletedThere = 0, Merged = 0, Conflicts = 0;
  // Contact groups found on the server, which are no entries and stay there as they are.
  int GroupsLeft = 0;
  // "received 2, sent 1, deleted here 0, deleted there 0, merged 1, conflicts 0"
  // and ", groups left on the server 2" when there were any
  std::string Line() const;
  friend bool operator==(const TSyncSummary&, const TSyncSummary&) = default;
};

class TSyncPlan {
public:
  // Here.
  std::vector<std::unique_ptr<TAddressItem>> Adds;
  std::vector<TLocalChange> Changes;
  std::vector<TAddressItem*> Deletes;
  // There.
  std::vector<TCardPut> Puts;
  std::vector<TCardDelete> ServerDeletes;

  std::vector<TSyncConflict> Conflicts;
  std::vector<std::string> Skipped;  // cards left for the next run, with why
  TSyncSummary Summary;
  // More than half of the entries (and at least 10) on either side would go.
  bool MassDelete = false;
  std::string MassDeleteText;

  // One line per thing to be done ("add here: Ann Lee"), for a dry run;
  // before ApplyToBook.
  std::vector<std::string> Actions() const;
  // Whether anything is to be done on the server.
  bool NeedsJournal() const;
  // The old state with every new card to be sent and every pairing made by
  // name or fields recorded, to be saved before the first PUT or DELETE.
  TSyncState JournalState() const;
  // Whether FinalState differs from the state the plan was made from (with
  // nothing changed on either side it does not, and is not written).
  bool StateChanged() const;
  // Applies the changes here to the book the plan was made for (its entries
  // unchanged since): changed entries are put back in name order, a deleted
  // Current is cleared, Modified is set. True when anything changed.
  bool ApplyToBook(TAddressBook& Book);
  // The state after the plan, from the results of the operations; an
  // operation that failed leaves its card as it was.
  TSyncState FinalState() const;

private:
  friend class TSyncEngine;
  friend class TSyncPlanner;
  // A card of the state after the plan that is not simply the old one.
  struct TPlanned {
    TSyncCard Card;
    int Old = -1;               // the old card it takes the place of; -1: a new card
    int Put = -1, Delete = -1;  // the operation it waits for; when that fails the old card stays
    bool Gone = false;          // the old card goes, with nothing in its place
  };
  enum class ECardState { Same, Changed, Gone };
  ECardState Outcome(const TPlanned& P, TSyncCard& Card) const;
  std::string FinalToken() const;
  std::shared_ptr<const TSyncState> Old;
  TSyncState Next;  // room for the new texts
  std::vector<TPlanned> Planned;
  std::vector<int32_t> PlannedFor;                    // per old card: its entry in Planned, -1: it stays as it is
  std::vector<std::string> Merged;                    // names, for Actions
  std::vector<std::pair<uint32_t, uint64_t>> Claims;  // old card, fingerprint of the entry taken for it
  std::vector<uint32_t> Moved;                        // old cards whose entry goes as a new card
  std::string NewToken;
  bool TokenSafe = false;  // nothing was left out, so the new token may be kept
};

class TSyncEngine {
public:
  // The plan keeps the state; pass a copy to keep one.
  explicit TSyncEngine(TSyncState State);
  // The server's cards; gives the addresses of the cards to fetch (changed or
  // new ones). Call once, before Plan.
  std::vector<std::string> Listing(const TServerListing& Listing);
  // A card fetched; one not given is left for the next run.
  void AddCard(const std::string& Href, const std::string& ETag, std::string_view Text);
  // A folder where the texts of the fetched cards wait for the plan, instead
  // of memory (a first sync receives a whole book); none, the default: memory.
  void SetScratchFolder(const std::string& Folder) { Texts.ScratchFolder = Folder; }
  // Throws std::logic_error without a listing.
  TSyncPlan Plan(const TLinkList& Book, const TSyncOptions& Options);

private:
  enum class ERemote : uint8_t { Unchanged, ToFetch, Deleted, Absent };
  // Href and ETag in Texts, the text in its scratch file or in Texts.
  using TFetched = TSyncCard;
  size_t Find(std::string_view Href) const;
  std::shared_ptr<const TSyncState> State;
  std::vector<uint32_t> ByHref;  // the cards in the order of their addresses
  std::vector<ERemote> Remote;
  std::vector<std::string_view> NewHrefs;  // in Texts
  std::vector<TFetched> Fetched;           // as they came; by Href once the plan begins
  const TFetched* FetchedCard(std::string_view Href) const;
  // The fetched cards' texts, in a scratch file or large blocks: the plan's
  // new state takes them over instead of a copy of each.
  TSyncState Texts;
  std::string NewToken;
  bool Listed = false;
};
