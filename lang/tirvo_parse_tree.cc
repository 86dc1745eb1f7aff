#include "lang/tirvo_parse_tree.h"

#include "automata/tirvo_charset.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_modifier.h"

namespace {

bool quiet(const tirvo_compile_ctx *ctx) {
    return ctx->parse_flags & TIRVO_PARSE_QUIET;
}

bool is_upper(int c) {
    return c >= 'A' && c <= 'Z';
}
bool is_lower(int c) {
    return c >= 'a' && c <= 'z';
}

// A piece element with the default bounds {1, 1}.
tirvo_branch_elem *piece_new(tirvo_compile_ctx *ctx, tirvo_atom_type type) {
    auto *e = tirvo_compile_new<tirvo_branch_elem>(ctx);
    if (!e)
        return nullptr;
    dl_list_init(&e->list);
    e->type = tirvo_branch_elem_type_piece;
    e->piece.min = 1;
    e->piece.max = 1;
    e->piece.type = type;
    return e;
}

// A new empty set for an action that reports its failures itself.
tirvo_charset *new_set(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    auto *set = tirvo_compile_new<tirvo_charset>(ctx);
    if (!set)
        tirvo_loc_message(ctx, loc, "memory allocation error\n");
    return set;
}

} // namespace

tirvo_regex *tirvo_regex_new(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    auto *r = tirvo_compile_new<tirvo_regex>(ctx);
    if (!r)
        return nullptr;
    dl_list_init(&r->branches);
    r->location = *loc;
    return r;
}

tirvo_branch *tirvo_branch_new(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    auto *b = tirvo_compile_new<tirvo_branch>(ctx);
    if (!b)
        return nullptr;
    dl_list_init(&b->list);
    dl_list_init(&b->branch_elems);
    b->location = *loc;
    return b;
}

void tirvo_branch_add(tirvo_branch *branch, tirvo_branch_elem *elem) {
    if (elem)
        dl_list_append(&branch->branch_elems, &elem->list);
}

tirvo_branch_elem *tirvo_piece_new_group(tirvo_compile_ctx *ctx, tirvo_regex *regex) {
    tirvo_branch_elem *e = piece_new(ctx, tirvo_atom_type_regex);
    if (e)
        e->piece.atom.regex = regex;
    return e;
}

tirvo_branch_elem *tirvo_piece_new_chars(tirvo_compile_ctx *ctx, tirvo_charset *set) {
    tirvo_branch_elem *e = piece_new(ctx, tirvo_atom_type_chars);
    if (e)
        e->piece.atom.charset = set;
    return e;
}

tirvo_regex_entry *tirvo_regex_entry_append(tirvo_compile_ctx *ctx, tirvo_regex *regex,
                                            uint32_t bound) {
    auto *e = tirvo_compile_new<tirvo_regex_entry>(ctx);
    if (!e)
        return nullptr;
    e->regex = regex;
    e->bound = bound;
    dl_list_append(&ctx->regex_entries, &e->list);
    return e;
}

int tirvo_regex_entries_finish(tirvo_compile_ctx *ctx, tirvo_regex *regex) {
    auto *main = tirvo_compile_new<tirvo_regex_entry>(ctx);
    if (!main)
        return -1;
    main->regex = regex;
    main->bound = 0;
    dl_list_prepend(&ctx->regex_entries, &main->list);
    ctx->main_entry = main;
    dl_list_for_each(pos, &ctx->regex_entries) {
        auto *e = dl_list_entry(pos, tirvo_regex_entry, list);
        e->id = ctx->num_regex_entries++;
        if (e->id == TIRVO_LIMITED_ENTRIES && !quiet(ctx))
            tirvo_loc_message(ctx, &e->regex->location,
                              "warning: Subexpressions from this point on will not have their "
                              "number of concurrent instances limited with the current engine "
                              "implementation (only the first %d subexpressions supported)\n",
                              TIRVO_LIMITED_ENTRIES - 1);
    }
    TIRVO_ASSERT(dl_list_len(&ctx->regex_entries) ==
                 static_cast<std::size_t>(ctx->num_regex_entries));
    return 0;
}

int tirvo_piece_set_bounds(tirvo_compile_ctx *ctx, tirvo_branch_elem *elem, uint32_t min,
                           uint32_t max, const tirvo_location *loc) {
    if (max < min || max == 0) {
        tirvo_loc_message(ctx, loc, "invalid bounds\n");
        return -1;
    }
    TIRVO_ASSERT(elem->type == tirvo_branch_elem_type_piece);
    tirvo_piece *p = &elem->piece;
    p->min = min;
    p->max = max;
    if (p->type == tirvo_atom_type_chars && tirvo_charset_has_assertion(p->atom.charset) &&
        (min > 1 || (max != TIRVO_PIECE_INF && max > 1))) {
        tirvo_loc_message(ctx, loc,
                          "you can't give other bounds than 0, 1, andInf for an assertion\n");
        return -1;
    }
    p->location = *loc;
    elem->location = *loc;
    return 0;
}

int tirvo_check_bound(tirvo_compile_ctx *ctx, uint64_t n, const tirvo_location *loc) {
    if (n >= TIRVO_PIECE_INF) {
        tirvo_loc_message(ctx, loc, "too large bound\n");
        return -1;
    }
    return 0;
}

int tirvo_check_symbol(tirvo_compile_ctx *ctx, int c, const tirvo_location *loc) {
    if (c < 0 || c >= ctx->alphabet_size) {
        tirvo_loc_message(ctx, loc, "special symbols are not allowed in low-level DFAs\n");
        return -1;
    }
    return 0;
}

int tirvo_case_insensitive(const tirvo_compile_ctx *ctx) {
    return (ctx->modifiers->flags & TIRVO_MOD_CASE_INSENSITIVE) ||
           (ctx->parse_flags & TIRVO_PARSE_GLOBAL_CASE_INSENSITIVE);
}

void tirvo_charset_add_folded(const tirvo_compile_ctx *ctx, tirvo_charset *set, int c) {
    TIRVO_ASSERT(c >= 0 && c < ctx->alphabet_size);
    tirvo_charset_add(set, static_cast<uint32_t>(c));
    if (!tirvo_case_insensitive(ctx))
        return;
    if (is_upper(c))
        tirvo_charset_add(set, static_cast<uint32_t>(c + 32));
    else if (is_lower(c))
        tirvo_charset_add(set, static_cast<uint32_t>(c - 32));
}

tirvo_charset *tirvo_charset_new_char(tirvo_compile_ctx *ctx, int c, int fold) {
    auto *set = tirvo_compile_new<tirvo_charset>(ctx);
    if (!set)
        return nullptr;
    if (fold) {
        tirvo_charset_add_folded(ctx, set, c);
    } else {
        TIRVO_ASSERT(c >= 0 && c < ctx->alphabet_size);
        tirvo_charset_add(set, static_cast<uint32_t>(c));
    }
    return set;
}

tirvo_charset *tirvo_charset_new_bitmask(tirvo_compile_ctx *ctx, int mask, int value,
                                         const tirvo_location *loc) {
    TIRVO_ASSERT(mask >= 0 && mask < ctx->alphabet_size);
    TIRVO_ASSERT(value >= 0 && value < ctx->alphabet_size);
    if (tirvo_case_insensitive(ctx) && !quiet(ctx))
        tirvo_loc_message(ctx, loc,
                          "warning: warning: case insensitive mode is ignored with bitmask "
                          "operator \\&\n");
    if (mask > 255 || value > 255) {
        tirvo_loc_message(ctx, loc,
                          "Bitmask operator \\& is only allowed between ordinary characters\n");
        return nullptr;
    }
    tirvo_charset *set = new_set(ctx, loc);
    if (!set)
        return nullptr;
    for (uint32_t u = 0; u < 256; ++u)
        if ((u & static_cast<uint32_t>(mask)) == static_cast<uint32_t>(value))
            tirvo_charset_add(set, u);
    return set;
}

tirvo_charset *tirvo_charset_new_dot(tirvo_compile_ctx *ctx) {
    auto *set = tirvo_compile_new<tirvo_charset>(ctx);
    if (!set)
        return nullptr;
    tirvo_charset_add_all_bytes(set);
    if (!ctx->flags.low_level_dfa)
        tirvo_charset_add(set, 256);
    if (!(ctx->modifiers->flags & TIRVO_MOD_DOT_ALL)) {
        tirvo_charset_remove(set, '\n');
        tirvo_charset_remove(set, 256);
    }
    return set;
}

tirvo_charset *tirvo_charset_new_negated(tirvo_compile_ctx *ctx, const tirvo_charset *set,
                                         int warn_special, const tirvo_location *loc) {
    if (warn_special && tirvo_charset_has_special(set) && !quiet(ctx))
        tirvo_loc_message(ctx, loc, "warning: assertions in [^...] do not work (yet)\n");
    auto *neg = tirvo_compile_new<tirvo_charset>(ctx);
    if (!neg)
        return nullptr;
    tirvo_charset_complement_bytes(neg, set);
    return neg;
}

tirvo_charset *tirvo_charset_new_range(tirvo_compile_ctx *ctx, int a, int b,
                                       const tirvo_location *loc) {
    if (b < a) {
        tirvo_loc_message(ctx, loc, "range end is before range begin\n");
        return nullptr;
    }
    tirvo_charset *set = new_set(ctx, loc);
    if (!set)
        return nullptr;
    // A case-insensitive range gets its letters' other case, which only
    // works when its letters are all of one case; a range over all of "A" to
    // "z" needs no folding.
    if (tirvo_case_insensitive(ctx) && !(a <= 'A' && b >= 'z')) {
        bool ok;
        if (is_upper(a)) {
            ok = is_upper(b);
            if (ok)
                tirvo_charset_add_range(set, static_cast<uint32_t>(a + 32),
                                        static_cast<uint32_t>(b + 32));
        } else if (is_lower(a)) {
            ok = is_lower(b);
            if (ok)
                tirvo_charset_add_range(set, static_cast<uint32_t>(a - 32),
                                        static_cast<uint32_t>(b - 32));
        } else {
            ok = !(a < 'B' && b > 'Y') && !(a < 'b' && b > 'y');
        }
        if (!ok) {
            tirvo_loc_message(ctx, loc,
                              "In case insensitive mode, any range that contains alphabets must "
                              "either contain only uppercase alphabets or only lowercase "
                              "alphabets, or all uppercase and lowercase alphabets\n");
            return nullptr;
        }
    }
    tirvo_charset_add_range(set, static_cast<uint32_t>(a), static_cast<uint32_t>(b));
    return set;
}

int tirvo_group_open(tirvo_compile_ctx *ctx, uint32_t on, uint32_t off, const tirvo_location *loc) {
    tirvo_modifier *m = tirvo_modifier_push(ctx);
    if (!m) {
        tirvo_loc_message(ctx, loc, "memory allocation error\n");
        return -1;
    }
    m->flags = (m->flags | on) & ~off;
    return 0;
}

int tirvo_group_close(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    if (tirvo_modifier_pop(ctx) != 0) {
        tirvo_loc_message(ctx, loc, "internal error: modifier stack underflow\n");
        return -1;
    }
    return 0;
}

int tirvo_situation_mark(tirvo_compile_ctx *ctx, uint64_t n, int new_syntax,
                         const tirvo_location *loc) {
    const auto s = static_cast<uint32_t>(n);
    ctx->current_situation = s;
    if (new_syntax) {
        ctx->parse_flags |= TIRVO_PARSE_NEW_SITUATION_SYNTAX;
        // A marker starts afresh with the modifiers of the scope around the
        // innermost one. The scope itself stays open, so that the group it
        // belongs to still closes it.
        tirvo_modifier *m = ctx->modifiers;
        m->flags = m->enclosing ? m->enclosing->flags : TIRVO_MOD_DEFAULT;
    }
    if (tirvo_compile_add_situation(ctx, s) != 0) {
        tirvo_loc_message(ctx, loc, "could not add situation to container\n");
        return -1;
    }
    return 0;
}
