#include "lang/tirvo_varexp.h"

#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"

namespace {

// Dump names, indexed by operator code (the comment gives the first code of
// each row).
// clang-format off
constexpr const char *oper_names[TIRVO_VAREXP_OPER_COUNT] = {
    "literal",        "->",             "?:",             "variable",       "$major",         // 0
    "$minor",         "$patch",         "$build",         "$fpver",         "$dport",         // 5
    "cancel",         "cancel_fp_ctx",  "sid",            "crc",            "skip",           // 10
    "parse_be",       "parse_le",       "parse_dec",      "parse_hex",      "parse_oct",      // 15
    "parse_int",      "subexp",         "record_marking", "<<",             ">>",             // 20
    "<=",             ">=",             "==",             "!=",             "&&",             // 25
    "||",             "*=",             "/=",             "%=",             "+=",             // 30
    "-=",             "<<=",            ">>=",            "&=",             "|=",             // 35
    "^=",             "post++",         "post--",         "++pre",          "--pre",          // 40
    "*",              "/",              "%",              "+",              "-",              // 45
    "&",              "^",              "|",              ",",              "=",              // 50
    "~",              "!",              "<",              ">",              "unary -",        // 55
    "()",             "cast",                                                                 // 60
};
// clang-format on

bool quiet(const tirvo_compile_ctx *ctx) {
    return ctx->parse_flags & TIRVO_PARSE_QUIET;
}

// The empty range at the end of `loc`.
tirvo_location end_of(const tirvo_location &loc) {
    return {loc.last_line,   loc.last_column, loc.last_line,
            loc.last_column, loc.last_offset, loc.last_offset};
}

// Appends a variable-expression element with bound 1 for `expr` (null when
// making `expr` failed) to `branch`; false when the pool is exhausted.
bool append_expression(tirvo_compile_ctx *ctx, tirvo_branch *branch, tirvo_varexp *expr) {
    if (!expr)
        return false;
    tirvo_branch_elem *e = tirvo_varexp_elem_new(ctx, expr, 1);
    if (!e)
        return false;
    tirvo_branch_add(branch, e);
    return true;
}

// "cancel , r": ends the sub-expression's instance, then runs r.
tirvo_varexp *cancel_then(tirvo_compile_ctx *ctx, tirvo_varexp *r, const tirvo_location *loc) {
    tirvo_varexp *cancel =
        tirvo_varexp_new(ctx, tirvo_varexp_cancel, 0, nullptr, nullptr, nullptr, 0, loc);
    if (!cancel || !r)
        return nullptr;
    return tirvo_varexp_new(ctx, tirvo_varexp_comma, 2, cancel, r, nullptr, r->result_size, loc);
}

// The expression of condition `cond` into `*r`: the settings and the report
// of the current situation (unless ignored), guarded by the tests. `*r` is
// null when there is nothing to do. False when the pool is exhausted.
bool condition_expression(tirvo_compile_ctx *ctx, const tirvo_condition *cond, tirvo_varexp **r) {
    const tirvo_location *loc = &cond->location;
    tirvo_varexp *c = cond->condition;
    tirvo_varexp *t = cond->setting;
    tirvo_varexp *s = nullptr;
    if (!cond->ignore && ctx->current_situation != 0) {
        s = tirvo_varexp_new_sid(ctx, ctx->current_situation, loc);
        if (!s)
            return false;
    }
    tirvo_varexp *action = t ? t : s;
    if (t && s) {
        action = tirvo_varexp_new(ctx, tirvo_varexp_comma, 2, t, s, nullptr, s->result_size, loc);
        if (!action)
            return false;
    }
    *r = action;
    if (!c)
        return true;
    if (!action) {
        if (!quiet(ctx))
            tirvo_loc_message(ctx, &c->location, "warning: statement with no effect\n");
        return true;
    }
    *r = tirvo_varexp_new(ctx, tirvo_varexp_implies, 2, c, action, nullptr, 0, loc);
    return *r != nullptr;
}

} // namespace

const char *tirvo_varexp_oper_name(int oper) {
    if (oper < 0 || oper >= TIRVO_VAREXP_OPER_COUNT)
        return "<UNKNOWN>";
    return oper_names[oper];
}

tirvo_varexp *tirvo_varexp_new(tirvo_compile_ctx *ctx, tirvo_varexp_oper oper, int num_args,
                               tirvo_varexp *a, tirvo_varexp *b, tirvo_varexp *c, int result_size,
                               const tirvo_location *loc) {
    auto *n = tirvo_compile_new<tirvo_varexp>(ctx);
    if (!n)
        return nullptr;
    n->oper = oper;
    n->num_args = num_args;
    n->arg[0] = a;
    n->arg[1] = b;
    n->arg[2] = c;
    n->result_size = result_size;
    n->location = *loc;
    return n;
}

tirvo_varexp *tirvo_varexp_new_literal(tirvo_compile_ctx *ctx, uint64_t value, int result_size,
                                       const tirvo_location *loc) {
    tirvo_varexp *n =
        tirvo_varexp_new(ctx, tirvo_varexp_literal, 0, nullptr, nullptr, nullptr, result_size, loc);
    if (n)
        n->value = value;
    return n;
}

tirvo_varexp *tirvo_varexp_new_variable(tirvo_compile_ctx *ctx, tirvo_variable *var,
                                        const tirvo_location *loc) {
    tirvo_varexp *n =
        tirvo_varexp_new(ctx, tirvo_varexp_variable, 0, nullptr, nullptr, nullptr, var->size, loc);
    if (n)
        n->variable = var;
    return n;
}

tirvo_varexp *tirvo_varexp_new_entry(tirvo_compile_ctx *ctx, tirvo_varexp_oper oper,
                                     tirvo_regex_entry *entry, const tirvo_location *loc) {
    tirvo_varexp *n = tirvo_varexp_new(ctx, oper, 0, nullptr, nullptr, nullptr, 0, loc);
    if (n)
        n->regex_entry = entry;
    return n;
}

tirvo_varexp *tirvo_varexp_new_sid(tirvo_compile_ctx *ctx, uint32_t situation,
                                   const tirvo_location *loc) {
    tirvo_varexp *lit = tirvo_varexp_new_literal(ctx, situation, 0, loc);
    if (!lit)
        return nullptr;
    return tirvo_varexp_new(ctx, tirvo_varexp_sid, 1, lit, nullptr, nullptr, 0, loc);
}

tirvo_branch_elem *tirvo_varexp_elem_new(tirvo_compile_ctx *ctx, tirvo_varexp *expr,
                                         uint32_t bound) {
    auto *elem = tirvo_compile_new<tirvo_branch_elem>(ctx);
    auto *entry = tirvo_compile_new<tirvo_varexp_entry>(ctx);
    if (!elem || !entry)
        return nullptr;
    entry->id = ctx->num_varexp_entries++;
    entry->varexp = expr;
    entry->bound = bound;
    dl_list_append(&ctx->varexp_entries, &entry->list);
    dl_list_init(&elem->list);
    elem->type = tirvo_branch_elem_type_varexp;
    elem->varexp_entry = entry;
    elem->location = expr->location;
    if (entry->id == TIRVO_LIMITED_ENTRIES && !quiet(ctx))
        tirvo_loc_message(ctx, &expr->location,
                          "warning: Variable expressions from this point on will not have their "
                          "number of concurrent instances limited with the current engine "
                          "implementation (only the first %d subexpressions supported)\n",
                          TIRVO_LIMITED_ENTRIES - 1);
    return elem;
}

tirvo_varexp *tirvo_varexp_register(tirvo_compile_ctx *ctx, const char *name, int is_shared,
                                    int size, const tirvo_location *loc) {
    tirvo_variable *var = tirvo_variable_register(ctx, name, is_shared, size, loc);
    tirvo_varexp *n = var ? tirvo_varexp_new_variable(ctx, var, loc) : nullptr;
    if (!n)
        tirvo_loc_message(ctx, loc, "out of memory\n");
    return n;
}

tirvo_condition *tirvo_condition_new(tirvo_compile_ctx *ctx, tirvo_varexp *condition,
                                     tirvo_varexp *setting, int ignore) {
    auto *c = tirvo_compile_new<tirvo_condition>(ctx);
    if (!c)
        return nullptr;
    c->condition = condition;
    c->setting = setting;
    c->ignore = ignore;
    return c;
}

const char *tirvo_branch_end(tirvo_compile_ctx *ctx, tirvo_branch *branch, int add_cancel) {
    dl_list *last = dl_list_last(&branch->branch_elems);
    const tirvo_branch_elem *last_elem =
        last ? dl_list_entry(last, tirvo_branch_elem, list) : nullptr;
    if (!last_elem || last_elem->type == tirvo_branch_elem_type_varexp)
        return ctx->flags.low_level_dfa ? "low-level DFA empty branch" : nullptr;
    const tirvo_location at = end_of(last_elem->location);
    const uint32_t s = ctx->current_situation;
    tirvo_varexp *expr;
    if (s == 0) {
        if (!add_cancel)
            return ctx->flags.low_level_dfa ? "low-level DFA branch end without defined situation"
                                            : nullptr;
        expr = tirvo_varexp_new(ctx, tirvo_varexp_cancel, 0, nullptr, nullptr, nullptr, 0, &at);
    } else {
        expr = tirvo_varexp_new_sid(ctx, s, &at);
        if (expr) {
            expr->situation = s;
            if (add_cancel)
                expr = cancel_then(ctx, expr, &at);
        }
    }
    if (!append_expression(ctx, branch, expr)) {
        tirvo_loc_message(ctx, &at, "memory allocation error\n");
        return "memory allocation error";
    }
    return nullptr;
}

int tirvo_condition_attach(tirvo_compile_ctx *ctx, tirvo_branch *branch,
                           const tirvo_condition *cond, int add_cancel) {
    const tirvo_location *loc = &cond->location;
    tirvo_varexp *r = nullptr;
    bool ok = condition_expression(ctx, cond, &r);
    // A condition that does nothing (tests alone, or only "ignore") adds
    // nothing to a main branch; a sub-expression's branch still ends its
    // instance.
    if (ok && add_cancel)
        ok = append_expression(
            ctx, branch,
            r ? cancel_then(ctx, r, loc)
              : tirvo_varexp_new(ctx, tirvo_varexp_cancel, 0, nullptr, nullptr, nullptr, 0, loc));
    else if (ok && r)
        ok = append_expression(ctx, branch, r);
    if (!ok) {
        tirvo_loc_message(ctx, loc, "memory allocation error\n");
        return 1;
    }
    return 0;
}
