#include "byc/tirvo_variable.h"

#include "compiler/tirvo_compile_ctx.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// The comparator receives the bytes after the node header; the record's
// fields start right there.
static_assert(offsetof(tirvo_variable, name) == sizeof(qle_avl_node));

const tirvo_variable *from_payload(const void *p) {
    return reinterpret_cast<const tirvo_variable *>(static_cast<const char *>(p) -
                                                    offsetof(tirvo_variable, name));
}

// What the walk for the same-name warnings needs.
struct same_name_walk {
    tirvo_compile_ctx *ctx;
    const tirvo_variable *added; // the record just inserted
};

int warn_same_name(qle_avl_tree *, qle_avl_node *node, void *user) {
    auto *w = static_cast<same_name_walk *>(user);
    auto *v = reinterpret_cast<const tirvo_variable *>(node);
    if (v == w->added || std::strcmp(v->name, w->added->name) != 0)
        return 0;
    char first[TIRVO_LOCATION_TEXT_SIZE];
    char other[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(stderr, "warning: variable name \"%s\" used with different size and/or scope\n",
                 v->name);
    std::fprintf(stderr, "%s:%s: first occurence\n", w->ctx->input_name,
                 tirvo_location_text(w->ctx, &v->location, first));
    std::fprintf(stderr, "%s:%s: the other occurence\n", w->ctx->input_name,
                 tirvo_location_text(w->ctx, &w->added->location, other));
    return 0;
}

int print_variable(qle_avl_tree *, qle_avl_node *node, void *user) {
    auto *v = reinterpret_cast<const tirvo_variable *>(node);
    std::fprintf(static_cast<FILE *>(user), "  %s%s@%d (id %d)\n", v->is_shared ? "$" : "", v->name,
                 v->size, v->id);
    return 0;
}

} // namespace

int tirvo_variable_compare(const void *a, const void *b) {
    const tirvo_variable *x = from_payload(a);
    const tirvo_variable *y = from_payload(b);
    if (x->is_shared != y->is_shared)
        return x->is_shared < y->is_shared ? -1 : 1;
    if (int c = std::strcmp(x->name, y->name); c != 0)
        return c;
    return x->size < y->size ? -1 : x->size > y->size ? 1 : 0;
}

tirvo_variable *tirvo_variable_register(tirvo_compile_ctx *ctx, const char *name, int is_shared,
                                        int size, const tirvo_location *loc) {
    tirvo_variable key{};
    key.name = name;
    key.is_shared = is_shared;
    key.size = size;
    if (qle_avl_node *found = qle_avl_tree_find(&ctx->variables, qle_avl_payload(&key.node)))
        return reinterpret_cast<tirvo_variable *>(found);
    auto *v = tirvo_compile_new<tirvo_variable>(ctx);
    if (!v)
        return nullptr;
    v->name = name;
    v->is_shared = is_shared;
    v->size = size;
    v->id = ctx->num_variables++;
    v->location = *loc;
    qle_avl_node_init(&v->node);
    int rc = qle_avl_tree_insert(&ctx->variables, &v->node);
    if (rc == QLE_AVL_TOO_DEEP) {
        std::fprintf(stderr, "too deep AVL tree\n");
        return nullptr;
    }
    if (rc != 0) {
        std::fprintf(stderr, "internal error: qle_avl_tree_insert: %d\n", rc);
        std::abort();
    }
    if (!ctx->flags.quiet) {
        same_name_walk w{ctx, v};
        qle_avl_tree_walk(&ctx->variables, warn_same_name, &w);
    }
    return v;
}

void tirvo_variables_print(FILE *f, qle_avl_tree *tree) {
    std::fprintf(f, "Variables:\n");
    qle_avl_tree_walk(tree, print_variable, f);
}
