#pragma once

// What a book remembers of its address book on a server between syncs, kept
// beside the book as BOOK.sync and replaced whole. No password is ever kept.
//
// The file is text up to the cards, whose texts are stored as they are after
// a line that gives their length, so that loading is one read and a scan:
//
//   TOBRINEL-SYNC 1
//   server URL            (values escaped: %, space and control bytes as %XX)
//   addressbook URL
//   user NAME
//   token TOKEN
//   trust SHA256
//   card HREF ETAG UID FINGERPRINT TEXT-LENGTH BASE-LENGTH
//   <text>
//   <base>
//   pending ...           (as card: a new card recorded before its PUT)
//   end CARDS
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
  std::string_view Text;  // the server's card, byte for byte (pending: the one to be sent)
  std::string_view Base;  // the entry as last synced (SyncFields::Encode); empty: the text reads as it
  uint64_t Fingerprint = 0;  // of the entry as last synced
  bool Pending = false;
};

class TSyncState {
public:
  static constexpr int FormatVersion = 1;

  TSyncState() = default;
  TSyncState(const TSyncState& Other);
  TSyncState& operator=(const TSyncState& Other);
  TSyncState(TSyncState&& Other) noexcept;
  TSyncState& operator=(TSyncState&& Other) noexcept;

  std::string ServerUrl;
  std::string AddressBookUrl;
  std::string UserName;
  std::string SyncToken;
  std::string TrustedCertificate;  // SHA-256 of a certificate the person trusts; may be empty
  std::vector<TSyncCard> Cards;     // in the order of the file

  // BOOK.sync for BOOK.
  static std::string PathFor(const std::string& BookPath);

  // False, leaving the state empty, when there is no such file. Throws
  // ESyncStateError for a damaged or foreign file and EFileError when it
  // cannot be read.
  bool Load(const std::string& Path);
  // The same for a file's content; Name is used in the messages.
  void Parse(std::string Content, const std::string& Name);
  std::string Serialize() const;
  // Replaces the file whole (a new one readable by its owner only); throws
  // EFileError.
  void Save(const std::string& Path) const;

  // A copy of Text that lives as long as this state and its copies.
  std::string_view Keep(std::string_view Text);
  // The card with every view moved into this state's storage.
  TSyncCard KeepCard(const TSyncCard& Card);

  friend bool operator==(const TSyncState& A, const TSyncState& B);

private:
  std::vector<std::shared_ptr<std::string>> Storage;
  std::string* Open = nullptr;  // the chunk Keep appends to; never reallocated once views point into it
};
