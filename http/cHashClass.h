// TNamesHash: a hash table from a name to an owned entry. Names compare
// ignoring case; every entry is also linked in insertion order, which is the
// order of iteration (the update state file is written in that order).
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

// The table's hash of a name: ASCII capitals folded to small letters (never
// the second byte of a double-byte character), then h = b xor rotl(h, 2).
uint32_t NamesHashOf(const std::string& key);
// Names compare ignoring case; the fold matches NamesHashOf.
bool SameName(std::string_view a, std::string_view b);
// The hash that places a name in its bucket: the same fold, mixed over 64
// bits. NamesHashOf keeps only the last 16 bytes' worth of rotation, so
// the long, similar paths of a large installation fall on a few dozen
// values (200,000 names of one release gave 56): chains of thousands.
uint64_t NamesBucketHashOf(const std::string& key);

// The table starts with the bucket count given and doubles it whenever it
// holds more entries than buckets, so chains stay short for any size.
template <class TEntry>
class TNamesHash {
public:
  explicit TNamesHash(size_t bucketCount) : FBuckets(bucketCount ? bucketCount : 1, nullptr) {}
  ~TNamesHash() { Clear(); }
  TNamesHash(const TNamesHash&) = delete;
  TNamesHash& operator=(const TNamesHash&) = delete;

  // False (and the entry is dropped) when the key is present already.
  bool Add(const std::string& key, std::unique_ptr<TEntry> entry) {
    const uint64_t hash = NamesBucketHashOf(key);
    if (FindNode(key, hash)) return false;
    if (FCount >= FBuckets.size()) Grow();
    TNode* node = NewNode(key, hash, std::move(entry));
    TNode*& head = FBuckets[hash % FBuckets.size()];
    node->chainNext = head;
    head = node;
    (FLast ? FLast->orderNext : FFirst) = node;
    FLast = node;
    ++FCount;
    return true;
  }

  TEntry* Find(const std::string& key) const {
    const TNode* node = FindNode(key, NamesBucketHashOf(key));
    return node ? node->entry.get() : nullptr;
  }

  // Unlinks and frees the entry; false when there was none.
  bool Remove(const std::string& key) {
    const uint64_t hash = NamesBucketHashOf(key);
    for (TNode** link = &FBuckets[hash % FBuckets.size()]; *link; link = &(*link)->chainNext) {
      TNode* node = *link;
      if (node->hash != hash || !SameName(node->Key(), key)) continue;
      *link = node->chainNext;
      (node->orderPrev ? node->orderPrev->orderNext : FFirst) = node->orderNext;
      (node->orderNext ? node->orderNext->orderPrev : FLast) = node->orderPrev;
      if (FCursor == node) FCursor = node->orderNext;
      DeleteNode(node);
      --FCount;
      return true;
    }
    return false;
  }

  void Clear() {
    for (TNode* node = FFirst; node;) {
      TNode* next = node->orderNext;
      DeleteNode(node);
      node = next;
    }
    std::fill(FBuckets.begin(), FBuckets.end(), nullptr);
    FFirst = FLast = FCursor = nullptr;
    FCount = 0;
  }

  size_t Count() const { return FCount; }

  // Iteration in insertion order: First, then Next until AtEnd.
  TEntry* First() {
    FCursor = FFirst;
    return Current();
  }
  TEntry* Next() {
    if (FCursor) FCursor = FCursor->orderNext;
    return Current();
  }
  bool AtEnd() const { return FCursor == nullptr; }
  // The key under which the current entry is stored.
  std::string CurrentKey() const { return std::string(FCursor->Key()); }

private:
  // Each node keeps its key's full hash: a chain is walked comparing
  // integers, and names only where the hashes are equal. The key's bytes
  // follow the node in the same allocation: one block per entry instead of
  // two, which a table of some hundred thousand names feels.
  struct TNode {
    uint64_t hash;
    std::unique_ptr<TEntry> entry;
    TNode* chainNext;
    TNode* orderPrev;
    TNode* orderNext;
    size_t keyLength;
    std::string_view Key() const { return std::string_view(reinterpret_cast<const char*>(this + 1), keyLength); }
  };
  TNode* NewNode(const std::string& key, uint64_t hash, std::unique_ptr<TEntry> entry) {
    void* memory = ::operator new(sizeof(TNode) + key.size());
    TNode* node = new (memory) TNode{hash, std::move(entry), nullptr, FLast, nullptr, key.size()};
    key.copy(reinterpret_cast<char*>(node + 1), key.size());
    return node;
  }
  static void DeleteNode(TNode* node) {
    node->~TNode();
    ::operator delete(node);
  }
  TEntry* Current() const { return FCursor ? FCursor->entry.get() : nullptr; }
  const TNode* FindNode(const std::string& key, uint64_t hash) const {
    for (const TNode* node = FBuckets[hash % FBuckets.size()]; node; node = node->chainNext)
      if (node->hash == hash && SameName(node->Key(), key)) return node;
    return nullptr;
  }
  // Rehashes into twice the buckets; chains keep no order of their own.
  void Grow() {
    std::vector<TNode*> buckets(FBuckets.size() * 2 + 1, nullptr);
    for (TNode* node = FFirst; node; node = node->orderNext) {
      TNode*& head = buckets[node->hash % buckets.size()];
      node->chainNext = head;
      head = node;
    }
    FBuckets.swap(buckets);
  }

  std::vector<TNode*> FBuckets;
  TNode* FFirst = nullptr;
  TNode* FLast = nullptr;
  TNode* FCursor = nullptr;
  size_t FCount = 0;
};
