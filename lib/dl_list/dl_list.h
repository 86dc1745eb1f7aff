// Intrusive circular doubly linked list.
//
// A list is a head node whose two links point to the head itself while the
// list is empty. Every member record embeds the same two links (a `dl_list`
// field) and is reached from its links with dl_list_entry. The list never
// allocates: the caller owns every record. Order is behaviour wherever a
// listing, a graph or a file shows a list, so every insertion says exactly
// where the member goes. Used for every list of records in the system
// (branches, branch elements, regex entries, NFA states, superstates, arcs,
// relocation entries, engine contexts).
#ifndef TIRVO_LIB_DL_LIST_DL_LIST_H
#define TIRVO_LIB_DL_LIST_DL_LIST_H

#include <cstddef>

// A list head, or the links embedded in a member record.
struct dl_list {
    dl_list *next; // next member, or the head after the last member
    dl_list *prev; // previous member, or the head before the first member
};

// Makes `head` an empty list (both links point to itself).
inline void dl_list_init(dl_list *head) {
    head->next = head;
    head->prev = head;
}

// 1 when the list headed by `head` has no member.
inline bool dl_list_empty(const dl_list *head) { return head->next == head; }

// Links `node` in between `prev` and `next`, which must be adjacent.
inline void dl_list_link_between(dl_list *node, dl_list *prev, dl_list *next) {
    node->prev = prev;
    node->next = next;
    prev->next = node;
    next->prev = node;
}

// Appends `node` at the end of the list headed by `head`.
inline void dl_list_append(dl_list *head, dl_list *node) {
    dl_list_link_between(node, head->prev, head);
}

// Inserts `node` at the front of the list headed by `head`.
inline void dl_list_prepend(dl_list *head, dl_list *node) {
    dl_list_link_between(node, head, head->next);
}

// Inserts `node` right before the member (or head) `pos`.
inline void dl_list_insert_before(dl_list *pos, dl_list *node) {
    dl_list_link_between(node, pos->prev, pos);
}

// Inserts `node` right after the member (or head) `pos`.
inline void dl_list_insert_after(dl_list *pos, dl_list *node) {
    dl_list_link_between(node, pos, pos->next);
}

// Unlinks `node` from its list and leaves it as an empty list of its own, so
// that a second removal is harmless.
inline void dl_list_remove(dl_list *node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    dl_list_init(node);
}

// The first member of a non-empty list, or nullptr when it is empty.
inline dl_list *dl_list_first(const dl_list *head) {
    return dl_list_empty(head) ? nullptr : head->next;
}

// The last member of a non-empty list, or nullptr when it is empty.
inline dl_list *dl_list_last(const dl_list *head) {
    return dl_list_empty(head) ? nullptr : head->prev;
}

// Moves every member of `from` to the end of `to`, keeping their order;
// `from` is left empty.
void dl_list_splice_tail(dl_list *to, dl_list *from);

// Number of members, counted by walking the list.
std::size_t dl_list_len(const dl_list *head);

// Compares two members (their embedded links) for dl_list_sort: negative,
// zero or positive like strcmp.
using dl_list_cmp_fn = int (*)(const dl_list *a, const dl_list *b);

// Sorts the list in place by `cmp`. The sort is stable (members that compare
// equal keep their order), takes O(n log n) comparisons and allocates nothing.
void dl_list_sort(dl_list *head, dl_list_cmp_fn cmp);

// The record of type `type` whose field `member` is the link `ptr`.
#define dl_list_entry(ptr, type, member)                                                           \
    (reinterpret_cast<type *>(reinterpret_cast<char *>(ptr) - offsetof(type, member)))

// Iterates `pos` (a dl_list *) over the members of `head` in order. The body
// must not remove `pos`; use dl_list_for_each_safe for that.
#define dl_list_for_each(pos, head) for (dl_list *pos = (head)->next; pos != (head); pos = pos->next)

// Iterates like dl_list_for_each, but the body may remove `pos`.
#define dl_list_for_each_safe(pos, head)                                                           \
    for (dl_list *pos = (head)->next, *pos##_next = pos->next; pos != (head);                      \
         pos = pos##_next, pos##_next = pos->next)

#endif
