#pragma once

#include <cstdint>
#include <vector>

// A node of a doubly linked list. Entries derive from it; the list that links a
// node owns it.
class TListNode {
public:
  TListNode() = default;
  virtual ~TListNode() = default;
  TListNode(const TListNode&) = delete;
  TListNode& operator=(const TListNode&) = delete;

  TListNode* Next = nullptr;
  TListNode* Prev = nullptr;
};

// An owning doubly linked list whose order is given by Compare.
class TLinkList : public TListNode {
public:
  TLinkList() = default;
  ~TLinkList() override;

  TListNode* Head = nullptr;
  TListNode* Tail = nullptr;
  int32_t Count = 0;

  bool IsEmpty() const { return Head == nullptr; }
  TListNode* GetItem(int32_t Position) const;
  int32_t IndexOf(const TListNode* Node) const;
  void InsertAfter(TListNode* Anchor, TListNode* Node);
  void Remove(TListNode* Node);
  void Delete(TListNode* Node);
  void Clear();
  void Add(TListNode* Node);
  virtual int32_t Compare(const TListNode* A, const TListNode* B) const = 0;

  static void ResetCursor(TListNode*& Cursor) { Cursor = nullptr; }
  bool MoveNext(TListNode*& Cursor) const;
  // Every node in list order, gathered from both ends at once: nodes added
  // in another order lie all over memory, and two walks wait for them side
  // by side instead of one after the other.
  std::vector<TListNode*> Nodes() const;

  // Links nodes that are already in order at the tail, one comparison-free step
  // each; used by the loader after it has sorted what it read.
  void AppendSorted(TListNode* Node);
};
