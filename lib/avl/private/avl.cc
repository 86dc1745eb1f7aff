#include "lib/avl/private/avl.h"

#include "lib/avl/private/avl_node_stack.h"
#include "lib/common/tirvo_assert.h"

#include <cstddef>

namespace {

int32_t height(const qle_avl_node *n) { return n ? n->height : 0; }

int32_t max32(int32_t a, int32_t b) { return a > b ? a : b; }

// Restores the height rules at the node held by `link`, rotating once or
// twice when one subtree is more than one level higher than the other.
void rebalance(qle_avl_node **link) {
    qle_avl_node *n = *link;
    int32_t lh = height(n->left);
    int32_t rh = height(n->right);
    if (lh > rh + 1) {
        qle_avl_node *l = n->left;
        if (height(l->right) > height(l->left)) {
            qle_avl_node *lr = l->right;
            n->left = lr->right;
            l->right = lr->left;
            lr->left = l;
            lr->right = n;
            n->height = l->height = rh + 1;
            lr->height = rh + 2;
            *link = lr;
        } else {
            int32_t h = height(l->right);
            n->left = l->right;
            l->right = n;
            n->height = h + 1;
            l->height = h + 2;
            *link = l;
        }
    } else if (rh > lh + 1) {
        qle_avl_node *r = n->right;
        if (height(r->left) > height(r->right)) {
            qle_avl_node *rl = r->left;
            n->right = rl->left;
            r->left = rl->right;
            rl->right = r;
            rl->left = n;
            n->height = r->height = lh + 1;
            rl->height = lh + 2;
            *link = rl;
        } else {
            int32_t h = height(r->left);
            n->right = r->left;
            r->left = n;
            n->height = h + 1;
            r->height = h + 2;
            *link = r;
        }
    } else {
        n->height = max32(lh, rh) + 1;
    }
}

void rebalance_path(avl_node_stack *stack) {
    while (qle_avl_node **link = avl_node_stack_pop(stack))
        rebalance(link);
}

int preorder(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user, bool reverse) {
    avl_node_stack stack;
    avl_node_stack_clear(&stack);
    if (!tree->root)
        return 0;
    if (avl_node_stack_push(&stack, &tree->root) != 0)
        return QLE_AVL_TOO_DEEP;
    while (qle_avl_node **link = avl_node_stack_pop(&stack)) {
        qle_avl_node *n = *link;
        int rc = fn(tree, n, user);
        if (rc != 0)
            return rc;
        qle_avl_node **first = reverse ? &n->left : &n->right;
        qle_avl_node **second = reverse ? &n->right : &n->left;
        if (*first && avl_node_stack_push(&stack, first) != 0)
            return QLE_AVL_TOO_DEEP;
        if (*second && avl_node_stack_push(&stack, second) != 0)
            return QLE_AVL_TOO_DEEP;
    }
    return 0;
}

int check_node(qle_avl_tree *, qle_avl_node *n, void *) {
    if (n->left && (n->height - n->left->height < 1 || n->height - n->left->height > 2))
        return QLE_AVL_INVALID;
    if (n->right && (n->height - n->right->height < 1 || n->height - n->right->height > 2))
        return QLE_AVL_INVALID;
    if (n->left && n->right) {
        int32_t d = n->left->height - n->right->height;
        if (d > 1 || d < -1)
            return QLE_AVL_INVALID;
    }
    return 0;
}

} // namespace

void qle_avl_tree_init(qle_avl_tree *tree, qle_avl_cmp_fn cmp) {
    TIRVO_ASSERT_TEXT(tree != nullptr, "tree");
    tree->root = nullptr;
    tree->cmp = cmp;
}

void qle_avl_node_init(qle_avl_node *node) {
    TIRVO_ASSERT_TEXT(node != nullptr, "node");
    node->left = nullptr;
    node->right = nullptr;
    node->height = 1;
}

int qle_avl_tree_insert(qle_avl_tree *tree, qle_avl_node *newnode) {
    TIRVO_ASSERT_TEXT(tree != nullptr, "tree");
    TIRVO_ASSERT_TEXT(newnode != nullptr, "newnode");
    avl_node_stack stack;
    avl_node_stack_clear(&stack);
    qle_avl_node **link = &tree->root;
    while (*link) {
        int c = tree->cmp(qle_avl_payload(newnode), qle_avl_payload(*link));
        if (c == 0)
            return QLE_AVL_DUPLICATE;
        if (avl_node_stack_push(&stack, link) != 0)
            return QLE_AVL_TOO_DEEP;
        link = c < 0 ? &(*link)->left : &(*link)->right;
    }
    *link = newnode;
    rebalance_path(&stack);
    return 0;
}

qle_avl_node *qle_avl_tree_find(const qle_avl_tree *tree, const void *key) {
    TIRVO_ASSERT_TEXT(tree != nullptr, "tree");
    TIRVO_ASSERT_TEXT(tree->cmp != nullptr, "tree->cmp");
    qle_avl_node *n = tree->root;
    while (n) {
        int c = tree->cmp(key, qle_avl_payload(n));
        if (c == 0)
            return n;
        n = c < 0 ? n->left : n->right;
    }
    return nullptr;
}

qle_avl_node *qle_avl_tree_delete(qle_avl_tree *tree, const void *key) {
    avl_node_stack stack;
    avl_node_stack_clear(&stack);
    qle_avl_node **link = &tree->root;
    while (*link) {
        int c = tree->cmp(key, qle_avl_payload(*link));
        if (c == 0)
            break;
        if (avl_node_stack_push(&stack, link) != 0)
            return nullptr;
        link = c < 0 ? &(*link)->left : &(*link)->right;
    }
    qle_avl_node *n = *link;
    if (!n)
        return nullptr;
    qle_avl_node *r = n->right;
    if (!r) {
        *link = n->left;
    } else if (!r->left) {
        r->left = n->left;
        r->height = max32(height(n->left) + 1, r->height);
        *link = r;
        TIRVO_ASSERT_TEXT(avl_node_stack_push(&stack, link) == 0, "r == 0");
    } else {
        // The successor S is the leftmost node below R; SP is its parent.
        // Record the links from R.left down to SP so that their heights are
        // recomputed after S has moved into N's place.
        avl_node_stack path;
        avl_node_stack_clear(&path);
        qle_avl_node **sp_link = &r->left;
        qle_avl_node *sparent = r;
        while ((*sp_link)->left) {
            TIRVO_ASSERT_TEXT(avl_node_stack_push(&path, sp_link) == 0, "r == 0");
            sparent = *sp_link;
            sp_link = &(*sp_link)->left;
        }
        qle_avl_node *successor = *sp_link;
        TIRVO_ASSERT_TEXT(sparent != nullptr, "sparent");
        TIRVO_ASSERT_TEXT(successor != nullptr, "successor");
        TIRVO_ASSERT_TEXT(!successor->left, "!successor->left");
        sparent->left = successor->right;
        sparent->height = max32(height(sparent->left), height(sparent->right)) + 1;
        successor->left = n->left;
        successor->right = n->right;
        successor->height = n->height;
        *link = successor;
        TIRVO_ASSERT_TEXT(avl_node_stack_push(&stack, link) == 0, "r == 0");
        TIRVO_ASSERT_TEXT(avl_node_stack_push(&stack, &successor->right) == 0, "r == 0");
        for (int i = 0; i <= path.top; ++i)
            TIRVO_ASSERT_TEXT(avl_node_stack_push(&stack, path.links[i]) == 0, "r == 0");
    }
    rebalance_path(&stack);
    return n;
}

int qle_avl_tree_walk(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user) {
    avl_node_stack stack;
    avl_node_stack_clear(&stack);
    qle_avl_node **link = &tree->root;
    for (;;) {
        if (*link) {
            if (avl_node_stack_push(&stack, link) != 0)
                return QLE_AVL_TOO_DEEP;
            link = &(*link)->left;
            continue;
        }
        qle_avl_node **top = avl_node_stack_pop(&stack);
        if (!top)
            return 0;
        qle_avl_node *n = *top;
        int rc = fn(tree, n, user);
        if (rc != 0)
            return rc;
        link = &n->right;
    }
}

int qle_avl_tree_walk_preorder(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user) {
    return preorder(tree, fn, user, false);
}

int qle_avl_tree_walk_preorder_reverse(qle_avl_tree *tree, qle_avl_walk_fn fn, void *user) {
    return preorder(tree, fn, user, true);
}

void qle_avl_tree_destroy(qle_avl_tree *tree, qle_avl_destructor_fn node_destructor) {
    TIRVO_ASSERT_TEXT(tree != nullptr, "tree");
    TIRVO_ASSERT_TEXT(node_destructor != nullptr, "node_destructor");
    qle_avl_node *cur = tree->root;
    while (cur) {
        if (qle_avl_node *l = cur->left) {
            cur->left = l->right;
            l->right = cur;
            cur = l;
        } else {
            qle_avl_node *next = cur->right;
            node_destructor(cur);
            cur = next;
        }
    }
    tree->root = nullptr;
}

int qle_avl_tree_check(qle_avl_tree *tree) {
    return qle_avl_tree_walk_preorder(tree, check_node, nullptr) == 0 ? 1 : 0;
}
