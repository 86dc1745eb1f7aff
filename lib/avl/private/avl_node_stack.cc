#include "lib/avl/private/avl_node_stack.h"

#include "lib/common/tirvo_assert.h"

void avl_node_stack_clear(avl_node_stack *stack) { stack->top = -1; }

int avl_node_stack_push(avl_node_stack *stack, qle_avl_node **link) {
    TIRVO_ASSERT_TEXT(link != nullptr, "node");
    if (stack->top + 1 >= AVL_NODE_STACK_SIZE)
        return -1;
    stack->links[++stack->top] = link;
    return 0;
}

qle_avl_node **avl_node_stack_pop(avl_node_stack *stack) {
    TIRVO_ASSERT_TEXT(stack != nullptr, "stack");
    if (stack->top < 0)
        return nullptr;
    return stack->links[stack->top--];
}
