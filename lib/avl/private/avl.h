// Height-balanced search tree with intrusive nodes.
//
// Every record kept in a tree starts with a `qle_avl_node` header; the bytes
// after the header are the payload that the tree's comparator orders. The
// tree never allocates or frees: the caller owns every node. No operation
// recurses: descents and walks use a fixed stack of 40 links (see
// avl_node_stack.h) in the operation's own frame, so a path longer than 40
// nodes is reported (-999) instead of overflowing anything. Destroy needs no
// stack at all: it flattens the tree by right rotations while it hands the
// nodes out in ascending order.
//
// Users: the situation container and the variable registry of a compile, the
// parent sets of superstates, and the agents' variable sets.
#ifndef TIRVO_LIB_AVL_PRIVATE_AVL_H
#define TIRVO_LIB_AVL_PRIVATE_AVL_H

#include <cstdint>

// Result of an insert when a node with an equal key is already stored.
constexpr int QLE_AVL_DUPLICATE = -1;
// Result of an insert or a walk when the search path is longer than the link
// stack (40 links).
constexpr int QLE_AVL_TOO_DEEP = -999;
// Result of the check's callback for a node that breaks the height rules.
constexpr int QLE_AVL_INVALID = -22;

// Node header; the first member of every record stored in a tree.
struct qle_avl_node {
    int32_t height;     // height of the subtree rooted here; a leaf has 1
    qle_avl_node *left;  // subtree of smaller keys, or null
    qle_avl_node *right; // subtree of greater keys, or null
};

// Compares two payloads (the bytes after a node header): negative, 0 or
// positive.
using qle_avl_cmp_fn = int (*)(const void *a, const void *b);

struct qle_avl_tree {
    qle_avl_node *root; // null when the tree is empty
    qle_avl_cmp_fn cmp; // the order and identity of keys
};

// A walk callback: gets the tree, the node (the address of its record) and the
// caller's pointer; a non-zero result ends the walk with that result.
using qle_avl_walk_fn = int (*)(qle_avl_tree *tree, qle_avl_node *node, void *user);

// Receives each node once when a tree is destroyed.
using qle_avl_destructor_fn = void (*)(qle_avl_node *node);

// The payload of a node: the bytes right after its header.
inline void *qle_avl_payload(qle_avl_node *node) { return node + 1; }
inline const void *qle_avl_payload(const qle_avl_node *node) { return node + 1; }

// Makes `tree` empty with the comparator `cmp`.
void qle_avl_tree_init(qle_avl_tree *tree, qle_avl_cmp_fn cmp);

// Clears a node's header and sets its height to 1; needed before an insert.
void qle_avl_node_init(qle_avl_node *node);

// Inserts `newnode`: 0 when inserted, QLE_AVL_DUPLICATE (-1) when a node with
// an equal key is stored, QLE_AVL_TOO_DEEP (-999) when the path is longer than
// the link stack. On failure the tree is unchanged.
int qle_avl_tree_insert(qle_avl_tree *tree, qle_avl_node *newnode);

// The node whose payload compares equal to the payload `key`, or null.
qle_avl_node *qle_avl_tree_find(const qle_avl_tree *tree, const void *key);

// Removes and returns the node whose payload compares equal to `key` (its
// header is then stale and the caller owns it), or null when there is none or
// the path is longer than the link stack (tree unchanged).
qle_avl_node *qle_avl_tree_delete(qle_avl_tree *tree, const void *key);

// Visits every node in ascending order. Returns 0 after the last node, the
// callback's non-zero result when it stops the walk, or -999 on a link stack
// overflow. The callback may change the payload but must not free, unlink or
// re-key the node.
int qle_avl_tree_walk(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user);

// Visits each node before its subtrees, left subtree first. Results as for
// qle_avl_tree_walk.
int qle_avl_tree_walk_preorder(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user);

// Visits each node before its subtrees, right subtree first. Results as for
// qle_avl_tree_walk.
int qle_avl_tree_walk_preorder_reverse(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user);

// Passes every node to `node_destructor` once, in ascending order, and leaves
// the tree empty. Uses no stack; trees of any depth can be destroyed.
void qle_avl_tree_destroy(qle_avl_tree *tree, qle_avl_destructor_fn node_destructor);

// 1 when every node satisfies the height rules, else 0.
int qle_avl_tree_check(qle_avl_tree *tree);

#endif
