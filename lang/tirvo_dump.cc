#include "lang/tirvo_dump.h"

#include "automata/tirvo_charset.h"
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <cinttypes>
#include <cstdlib>

namespace {

[[noreturn]] void internal_error() {
    std::fprintf(stderr, "internal error\n");
    std::abort();
}

void dump_piece(FILE *f, const tirvo_piece *p, int n, const tirvo_compile_ctx *ctx) {
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(f, "piece@%s: ", tirvo_location_text(ctx, &p->location, where));
    if (p->min != 1 || p->max != 1) {
        std::fprintf(f, "min: %d, max: ", static_cast<int>(p->min));
        if (p->max == TIRVO_PIECE_INF)
            std::fprintf(f, "Inf ");
        else
            std::fprintf(f, "%d ", static_cast<int>(p->max));
    }
    switch (p->type) {
    case tirvo_atom_type_regex:
        std::fprintf(f, "\n");
        tirvo_dump_regex(f, p->atom.regex, n + 2, ctx);
        return;
    case tirvo_atom_type_chars:
        tirvo_charset_print(f, p->atom.charset, 0, static_cast<uint32_t>(ctx->alphabet_size));
        std::fprintf(f, "\n");
        return;
    }
    internal_error();
}

void dump_entry_elem(FILE *f, const tirvo_varexp_entry *entry, int n,
                     const tirvo_compile_ctx *ctx) {
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(f, "varexp@%s (bound ", tirvo_location_text(ctx, &entry->varexp->location, where));
    if (entry->bound >= TIRVO_BOUND_UNLIMITED)
        std::fprintf(f, "*");
    else
        std::fprintf(f, "%u", entry->bound);
    std::fprintf(f, "):\n%*s", n, "");
    tirvo_dump_varexp(f, entry->varexp, n, ctx);
}

} // namespace

void tirvo_dump_regex(FILE *f, const tirvo_regex *regex, int n, const tirvo_compile_ctx *ctx) {
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(f, "%*sre@%s: %d branches\n", n, "",
                 tirvo_location_text(ctx, &regex->location, where),
                 static_cast<int>(dl_list_len(&regex->branches)));
    dl_list_for_each(b, &regex->branches) {
        const auto *branch = dl_list_entry(b, tirvo_branch, list);
        std::fprintf(f, "%*sbranch@%s:\n", n, "",
                     tirvo_location_text(ctx, &branch->location, where));
        dl_list_for_each(e, &branch->branch_elems)
            tirvo_dump_branch_elem(f, dl_list_entry(e, tirvo_branch_elem, list), n + 2, ctx);
    }
}

void tirvo_dump_branch_elem(FILE *f, const tirvo_branch_elem *elem, int n,
                            const tirvo_compile_ctx *ctx) {
    std::fprintf(f, "%*s", n, "");
    switch (elem->type) {
    case tirvo_branch_elem_type_piece:
        dump_piece(f, &elem->piece, n, ctx);
        return;
    case tirvo_branch_elem_type_varexp:
        dump_entry_elem(f, elem->varexp_entry, n, ctx);
        return;
    }
    internal_error();
}

void tirvo_dump_varexp(FILE *f, const tirvo_varexp *node, int n, const tirvo_compile_ctx *ctx) {
    std::fprintf(f, "oper: %s, num_args = %d, result_size = %d\n",
                 tirvo_varexp_oper_name(node->oper), node->num_args, node->result_size);
    switch (node->oper) {
    case tirvo_varexp_variable:
        std::fprintf(f, "%*s  name: %s, shared: %d\n", n, "", node->variable->name,
                     node->variable->is_shared);
        break;
    case tirvo_varexp_literal:
        std::fprintf(f, "%*s  value: %" PRIu64 "\n", n, "", node->value);
        break;
    case tirvo_varexp_subexp:
    case tirvo_varexp_record_marking: {
        const tirvo_regex_entry *entry = node->regex_entry;
        std::fprintf(f, "%*s  %s (bound ", n, "",
                     node->oper == tirvo_varexp_subexp ? "subexp" : "record_marking");
        if (entry->bound >= TIRVO_BOUND_UNLIMITED)
            std::fprintf(f, "*):\n");
        else
            std::fprintf(f, "%d):\n", static_cast<int>(entry->bound));
        tirvo_dump_regex(f, entry->regex, n + 2, ctx);
        break;
    }
    default:
        break;
    }
    for (int i = 0; i < node->num_args; ++i) {
        std::fprintf(f, "%*s", n + 2, "");
        tirvo_dump_varexp(f, node->arg[i], n + 2, ctx);
    }
}
