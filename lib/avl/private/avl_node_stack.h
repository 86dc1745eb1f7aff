// The link stack of the AVL tree: at most 40 links, where a link is the
// address of a place that holds a node pointer (the tree's root field or a
// node's left or right field). Each tree operation that descends or walks
// keeps one in its own frame, so no operation recurses or allocates. Used
// only inside the AVL module.
#ifndef TIRVO_LIB_AVL_PRIVATE_AVL_NODE_STACK_H
#define TIRVO_LIB_AVL_PRIVATE_AVL_NODE_STACK_H

#include "lib/avl/private/avl.h"

// Number of links a stack holds.
constexpr int AVL_NODE_STACK_SIZE = 40;

struct avl_node_stack {
    qle_avl_node **links[AVL_NODE_STACK_SIZE]; // the links, bottom first
    int top;                                   // index of the top link; -1 when empty
};

// Empties the stack.
void avl_node_stack_clear(avl_node_stack *stack);

// Pushes `link` (which must not be null): 0, or -1 when the stack is full and
// the link was not stored.
int avl_node_stack_push(avl_node_stack *stack, qle_avl_node **link);

// Pops the top link, or returns null when the stack is empty. `stack` must not
// be null.
qle_avl_node **avl_node_stack_pop(avl_node_stack *stack);

// 1 when the stack holds no link.
inline bool avl_node_stack_empty(const avl_node_stack *stack) { return stack->top < 0; }

#endif
