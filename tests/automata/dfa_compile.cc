#include "tests/automata/dfa_compile.h"

#include "tests/support/temp_file.h"

#include "automata/tirvo_charset.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_scanner.h"

#include <cstdio>
#include <cstdlib>

dfa_compile::dfa_compile(const std::string &text, void (*setup)(tirvo_compile_ctx *),
                         tirvo_pool_alloc_fn alloc) {
    tirvo_charset_init_predefined();
    tirvo_compile_ctx_init(&ctx);
    FILE *f = text_as_file(text);
    if (!f) {
        status = -1;
        return;
    }
    tirvo_compile_set_input(&ctx, f, "fp");
    tirvo_compile_set_quiet(&ctx);
    if (setup)
        setup(&ctx);
    tirvo_pool_setup(&ctx.pool, alloc ? alloc : std::malloc, std::free);
    if (tirvo_parse_setup(&ctx) != 0) {
        status = ctx.error;
        return;
    }
    ctx.parse_flags |= TIRVO_PARSE_QUIET;
    if (tirvo_parse(&ctx) != 0) {
        status = ctx.error ? ctx.error : TIRVO_COMPILE_ERR_PARSE;
        return;
    }
    if (tirvo_nfa_build(&ctx) != 0) {
        status = ctx.error;
        return;
    }
    status = tirvo_dfa_build(&ctx);
}

dfa_compile::~dfa_compile() {
    tirvo_compile_cleanup(&ctx);
}

const superstates *dfa_compile::main_superstates() const {
    return ctx.main_entry ? ctx.main_entry->superstates : nullptr;
}

std::vector<const superstate *> superstate_vector(const superstates *ss) {
    std::vector<const superstate *> v;
    dl_list_for_each(pos, &ss->superstate_list) {
        v.push_back(dl_list_entry(pos, superstate, list));
    }
    return v;
}

const superstate *arc_target(const superstate *s, uint32_t c) {
    dl_list_for_each(pos, &s->arcs) {
        const superstate_arc *arc = dl_list_entry(pos, superstate_arc, list);
        if (c >= arc->first && c < arc->first + arc->len)
            return arc->target;
    }
    return nullptr;
}

std::vector<const superstate *> walk_superstates(const superstates *ss,
                                                 const std::vector<uint32_t> &input) {
    const superstate *s = ss->initial;
    std::vector<const superstate *> path{s};
    uint32_t count = 0;
    for (uint32_t c : input) {
        if (s->count_charset && tirvo_charset_contains(s->count_charset, c) &&
            count + 1 < s->count) {
            ++count;
        } else {
            const superstate *t = arc_target(s, c);
            if (!t)
                break;
            if (!(c > 255 && t == s))
                count = 0;
            s = t;
        }
        path.push_back(s);
    }
    return path;
}
