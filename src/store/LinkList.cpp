#include "LinkList.h"

#include <algorithm>

TLinkList::~TLinkList() { Clear(); }

TListNode* TLinkList::GetItem(int32_t Position) const {
  if (Position < 0) return nullptr;
  TListNode* Node = Head;
  while (Node && Position > 0) {
    Node = Node->Next;
    --Position;
  }
  return Node;
}

int32_t TLinkList::IndexOf(const TListNode* Node) const {
  int32_t Position = 0;
  for (TListNode* Walk = Head; Walk; Walk = Walk->Next, ++Position)
    if (Walk == Node) return Position;
  return -1;
}

void TLinkList::InsertAfter(TListNode* Anchor, TListNode* Node) {
  if (!Anchor) {
    Node->Prev = nullptr;
    Node->Next = Head;
    if (Head) Head->Prev = Node;
    Head = Node;
  } else {
    Node->Prev = Anchor;
    Node->Next = Anchor->Next;
    if (Anchor->Next) Anchor->Next->Prev = Node;
    Anchor->Next = Node;
  }
  if (!Node->Next) Tail = Node;
  ++Count;
}

void TLinkList::Remove(TListNode* Node) {
  if (Node->Prev) Node->Prev->Next = Node->Next;
  else Head = Node->Next;
  if (Node->Next) Node->Next->Prev = Node->Prev;
  else Tail = Node->Prev;
  Node->Next = nullptr;
  Node->Prev = nullptr;
  --Count;
}

void TLinkList::Delete(TListNode* Node) {
  Remove(Node);
  delete Node;
}

void TLinkList::Clear() {
  while (Head) Delete(Head);
  Head = nullptr;
  Tail = nullptr;
  Count = 0;
}

void TLinkList::Add(TListNode* Node) {
  TListNode* Anchor = Tail;
  while (Anchor && Compare(Anchor, Node) > 0) Anchor = Anchor->Prev;
  InsertAfter(Anchor, Node);
}

bool TLinkList::MoveNext(TListNode*& Cursor) const {
  if (Cursor == Tail || !Head) return false;
  Cursor = Cursor ? Cursor->Next : Head;
  return true;
}

std::vector<TListNode*> TLinkList::Nodes() const {
  // The walks meet by the nodes themselves, not by the count.
  std::vector<TListNode*> All, FromTail;
  All.reserve(size_t(std::max(Count, 0)));
  FromTail.reserve(size_t(std::max(Count, 0)) / 2 + 1);
  TListNode* Front = Head;
  TListNode* Back = Tail;
  while (Front && Back) {
    All.push_back(Front);
    if (Front == Back) break;
    FromTail.push_back(Back);
    if (Front->Next == Back) break;
    Front = Front->Next;
    Back = Back->Prev;
  }
  All.insert(All.end(), FromTail.rbegin(), FromTail.rend());
  return All;
}

void TLinkList::AppendSorted(TListNode* Node) { InsertAfter(Tail, Node); }
