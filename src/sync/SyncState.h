#pragma once

// What a book remembers of its address book on a server between syncs, kept
// beside the book as BOOK.sync and replaced whole. No password is ever kept.
//
// The file is an index of the cards followed by their texts, so that loading
// reads the index alone and a card's text is read only when it is wanted:
//
//   TOBRINEL-SYNC 1
//   server URL              (values escaped: %, space and control bytes as %XX)
//   addressbook URL
//   user NAME
//   token TOKEN
//   trust SHA256
//   cards COUNT BYTES       (BYTES: the index from the next line to the end line)
//   card HREF ETAG UID FINGERPRINT TEXT-LENGTH BASE-LENGTH
//   <base>                  (only when BASE-LENGTH is not 0)
//   claim FINGERPRINT       (only in a journal: the entry a run that was cut
//                            off took for this card)
//   moved                   (only in a journal: that run sent this card's
//                            entry as a new card)
//   pending ...             (as card: a new card recorded before its PUT)
//   end COUNT
//   <text>                  (each card's text, in the order of the index, each
//   ...                      followed by a line end)
//
// The base (the entry as last synced, for the three-way merge) is written
// only when the card's text does not read back as that entry; otherwise it is
// rebuilt from the text.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Adrbook.h"

// A file that holds card texts: the state file a state was loaded from, or a
// scratch file the texts of fetched cards are written to as they arrive.
struct TSyncTextFile;

// A state file that cannot be used: damaged, foreign, or from a later version.
class ESyncStateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One card as last synced, or a new one chosen before its PUT (Pending). The
// views point into storage the state keeps.
struct TSyncCard {
  std::string_view Href;
  std::string_view ETag;  // empty while pending, or when the server gave none
  std::string_view Uid;
  std::string_view Base;     // the entry as last synced (SyncFields::Encode); empty: the text reads as it
  uint64_t Fingerprint = 0;  // of the entry as last synced
  // Journal, so that the next run pairs entries and cards as a run that was
  // cut off did: the fingerprint of the entry it took for this card (0 for
  // none), or Moved when it sent that entry as a new card.
  uint64_t Claim = 0;
  // The server's card, byte for byte (pending: the one to be sent): in
  // memory, or TextSize bytes at TextAt of TextFile, which a state that has
  // the card keeps open. TSyncState::Text gives it either way.
  std::string_view Text;
  uint64_t TextAt = 0;
  const TSyncTextFile* TextFile = nullptr;
  uint32_t TextSize = 0;
  bool Moved = false;  // with Claim; next to the other small fields, so that a card takes 120 bytes, not 136
  bool Pending = false;
  bool TextInFile() const { return TextFile != nullptr; }
};

class TSyncState {
public:
  static constexpr int FormatVersion = 1;

  std::string ServerUrl;
  std::string AddressBookUrl;
  std::string UserName;
  std::string SyncToken;
  std::string TrustedCertificate;  // SHA-256 of a certificate the person trusts; may be empty
  std::vector<TSyncCard> Cards;    // in the order of the file
  // Where KeepInFile writes its scratch file; none: it keeps texts in memory.
  std::string ScratchFolder;

  // BOOK.sync for BOOK.
  static std::string PathFor(const std::string& BookPath);

  // False, leaving the state empty, when there is no such file. Throws
  // ESyncStateError for a damaged or foreign file and EFileError when it
  // cannot be read. The file stays open while the state or a state made
  // from it needs its texts; replacing it (Save) does not disturb them.
  bool Load(const std::string& Path);
  // The same for a file's content held in memory; Name is used in messages.
  void Parse(std::string Content, const std::string& Name);
  std::string Serialize() const;
  // Replaces the file whole (a new one readable by its owner only); throws
  // EFileError, or ESyncStateError when a text can no longer be read.
  void Save(const std::string& Path) const;

  // A card's text; throws ESyncStateError when the file no longer holds it.
  static std::string Text(const TSyncCard& Card);
  static size_t TextSize(const TSyncCard& Card) { return Card.TextInFile() ? Card.TextSize : Card.Text.size(); }

  // A copy of Text that lives as long as this state and its copies.
  std::string_view Keep(std::string_view Text);
  // Makes Card's text a copy of Text in a scratch file of this state's, which
  // lives as long as this state and its copies, so that a whole address book
  // received is not held in memory; in memory (Keep) when that file cannot be
  // written.
  void KeepInFile(std::string_view Text, TSyncCard& Card);
  // Keeps what Other's cards point to alive for this state too, so that they
  // may be copied here.
  void Share(const TSyncState& Other);

  friend bool operator==(const TSyncState& A, const TSyncState& B);

private:
  friend class TStateParser;
  // Writes the whole file's content piece by piece.
  template <class F>
  void Write(F&& Put) const;
  std::vector<std::shared_ptr<const TSyncTextFile>> Files;  // those the cards' texts are in
  std::shared_ptr<TSyncTextFile> Scratch;                   // the one KeepInFile appends to
  std::vector<std::shared_ptr<std::string>> Storage;
  std::shared_ptr<std::string> Open;  // the chunk Keep appends to, never reallocated
};
